#pragma once

#include <memory>
#include <optional>
#include <string>

class QTranslator;

namespace sentrel {

class IniFile;

// The language of a language file, as its [Language] section names it
// ("Locale=de"); empty for the built-in English and for a file that names
// none.
std::string LanguageLocale(const std::optional<IniFile>& file);

// The toolkit's own texts (file dialogs, standard buttons, edit menus) in
// the language of the program's language file, from the translations that
// come with the toolkit. The program's windows follow their language file,
// not the desktop's locale, so these follow it too. Window thread only.
class LibraryTranslations {
 public:
  LibraryTranslations();
  ~LibraryTranslations();

  // Installs the toolkit's translation for the file's locale, or removes
  // the one installed (English) when the file names none or the toolkit
  // has none for it. Returns whether a translation is installed.
  bool Apply(const std::optional<IniFile>& file);
  // The locale whose translation is installed; empty for none.
  const std::string& Installed() const { return installed_; }

 private:
  std::unique_ptr<QTranslator> translator_;
  std::string installed_;
};

}  // namespace sentrel
