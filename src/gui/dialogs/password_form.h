#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace sentrel {

class Desktop;
class IniFile;
class PasswordStore;

// The password dialog ("PasswordForm"): asks for the access password before
// the protected commands, and sets a new one. Created once at start, hidden
// between uses. Controls are named by their caption keys ("New_Password",
// "Input_Password", "Confirm_Password", "Ok", "Cancel"; the window title is
// the key "Caption"); the fields are "NewPasswordEdit", "InputPasswordEdit"
// and "ConfirmPasswordEdit". Window thread only.
class PasswordForm final : public QDialog {
 public:
  static constexpr int kResultOk = 1;
  static constexpr int kResultCancel = 2;
  enum class Mode { Input, Set };

  PasswordForm(PasswordStore& store, Desktop& desktop, QWidget* parent = nullptr);

  // Runs before every showing: the language file's captions.
  void SetBeforeShow(std::function<void()> applyLanguage) { beforeShow_ = std::move(applyLanguage); }
  // Where a failure to store a new password is told (one line).
  void SetNotice(std::function<void(const std::string&)> notice) { notice_ = std::move(notice); }

  // Sets the captions and the message texts from the language file (the
  // built-in ones for what it lacks).
  void ApplyLanguage(const std::optional<IniFile>& file);

  // True at once when no password is set. Otherwise asks for it and is true
  // only for "Ok" with the right text; a wrong text is told ("Wrong
  // password") and refused. While
  // the dialog is already up (a second request), false: that request is
  // refused, the first one goes on.
  bool CheckPassword();

  // The "Set password" command: asks for the current password, then for the
  // new one twice; an empty new password removes the password. Returns
  // whether a new password was taken.
  bool SetPassword();

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  int ShowIn(Mode mode);
  void OkClicked();

  PasswordStore& store_;
  Desktop& desktop_;
  std::function<void()> beforeShow_;
  std::string wrongPassword_ = "Wrong password";
  std::string tryAnother_ = "Sorry, try another...";
  std::function<void(const std::string&)> notice_;
  Mode mode_ = Mode::Input;
  QLabel* newLabel_;
  QLineEdit* newEdit_;
  QLabel* inputLabel_;
  QLineEdit* inputEdit_;
  QLabel* confirmLabel_;
  QLineEdit* confirmEdit_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace sentrel
