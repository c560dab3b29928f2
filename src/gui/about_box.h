#pragma once

#include <optional>
#include <string>

#include <QDialog>

#include "settings/ini_file.h"

class QDialogButtonBox;
class QLabel;

namespace sentrel {

// Where this user's files are, as the about box shows them.
struct UserFiles {
  std::string dataFolder;    // sentrel.xml and its backup
  std::string logFolder;     // sentrel.log (and smtp.log)
  std::string settingsFile;  // options, placement, running state, password
};

// The about box: the program's name, version, what it is for, its licence,
// and where this user's files are.
class AboutBox final : public QDialog {
 public:
  explicit AboutBox(QWidget* parent = nullptr);
  // Shows the box modally, unless it is already on the screen.
  void ShowModal(const UserFiles& files);
  // The texts of the language file's MainForm section, or the built-in ones.
  void ApplyLanguage(const std::optional<IniFile>& file);

 private:
  QString Text(const char* key) const;

  std::optional<IniFile> language_;
  QLabel* text_;
  QDialogButtonBox* buttons_ = nullptr;
  QLabel* files_;
};

}  // namespace sentrel
