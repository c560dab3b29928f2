#include "gui/library_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "common/text.h"
#include "settings/ini_file.h"

namespace sentrel {

std::string LanguageLocale(const std::optional<IniFile>& file) {
  if (!file) return {};
  return TrimBlanks(file->Get("Language", "Locale").value_or(""));
}

LibraryTranslations::LibraryTranslations() = default;

LibraryTranslations::~LibraryTranslations() {
  if (translator_) QCoreApplication::removeTranslator(translator_.get());
}

bool LibraryTranslations::Apply(const std::optional<IniFile>& file) {
  const std::string locale = LanguageLocale(file);
  if (locale == installed_ && (translator_ || locale.empty())) return translator_ != nullptr;
  if (translator_) {
    QCoreApplication::removeTranslator(translator_.get());
    translator_.reset();
  }
  installed_.clear();
  if (locale.empty()) return false;
  auto translator = std::make_unique<QTranslator>();
  // "qtbase_de.qm" and the like, where the toolkit keeps its translations.
  if (!translator->load(QLocale(QString::fromStdString(locale)), "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  QCoreApplication::installTranslator(translator.get());
  translator_ = std::move(translator);
  installed_ = locale;
  return true;
}

}  // namespace sentrel
