#include "gui/dialogs/password_form.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/language_captions.h"
#include "platform/desktop.h"
#include "settings/ini_file.h"
#include "settings/language_table.h"
#include "settings/password.h"

namespace sentrel {

namespace {

QLineEdit* MaskedField(const char* name, QLabel* label, QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setEchoMode(QLineEdit::Password);
  // The field's accessible name follows its label's caption.
  label->setBuddy(field);
  return field;
}

QLabel* CaptionLabel(const char* key, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(key);
  return label;
}

}  // namespace

PasswordForm::PasswordForm(PasswordStore& store, Desktop& desktop, QWidget* parent)
    : QDialog(parent),
      store_(store),
      desktop_(desktop),
      newLabel_(CaptionLabel("New_Password", "New Password:", this)),
      newEdit_(MaskedField("NewPasswordEdit", newLabel_, this)),
      inputLabel_(CaptionLabel("Input_Password", "Input Password:", this)),
      inputEdit_(MaskedField("InputPasswordEdit", inputLabel_, this)),
      confirmLabel_(CaptionLabel("Confirm_Password", "Confirm New Password:", this)),
      confirmEdit_(MaskedField("ConfirmPasswordEdit", confirmLabel_, this)),
      ok_(new QPushButton("Ok", this)),
      cancel_(new QPushButton("Cancel", this)) {
  setObjectName("PasswordForm");
  setWindowTitle("Password");
  // A small window without minimise, maximise or close.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  ok_->setObjectName("Ok");
  cancel_->setObjectName("Cancel");
  ok_->setDefault(true);  // Enter
  cancel_->setAutoDefault(false);
  connect(ok_, &QPushButton::clicked, this, [this] { OkClicked(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { done(kResultCancel); });

  auto* rows = new QGridLayout;
  rows->addWidget(newLabel_, 0, 0);
  rows->addWidget(newEdit_, 0, 1);
  rows->addWidget(inputLabel_, 1, 0);
  rows->addWidget(inputEdit_, 1, 1);
  rows->addWidget(confirmLabel_, 2, 0);
  rows->addWidget(confirmEdit_, 2, 1);
  rows->setColumnMinimumWidth(1, 160);
  rows->setColumnStretch(1, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(rows);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void PasswordForm::ApplyLanguage(const std::optional<IniFile>& file) {
  ApplyCaptionsByName(*this, LanguageWindow::kPasswordForm, file);
  wrongPassword_ = CaptionText(file, kPasswordFormSection, "WrongPassword");
  tryAnother_ = CaptionText(file, kPasswordFormSection, "TryAnother");
}

bool PasswordForm::CheckPassword() {
  if (!store_.IsSet()) return true;
  if (isVisible()) return false;
  const int result = ShowIn(Mode::Input);
  const bool granted = AccessGranted(store_.StoredPassword(), result == kResultOk,
                                     inputEdit_->text().toStdString());
  inputEdit_->clear();
  // Only a given password is wrong; "Cancel" needs no word.
  if (!granted && result == kResultOk)
    desktop_.ShowMessage(wrongPassword_, kApplicationTitle, MessageIcon::Warning, MessageButtons::Ok);
  return granted;
}

bool PasswordForm::SetPassword() {
  if (isVisible() || !CheckPassword()) return false;
  const bool taken = ShowIn(Mode::Set) == kResultOk;
  if (taken) {
    std::string error;
    if (!store_.Replace(confirmEdit_->text().toStdString(), &error) && notice_)
      notice_("The password cannot be stored: " + error + "\r\n");
  }
  // The new password's text leaves the widgets once it is taken or dropped.
  newEdit_->clear();
  confirmEdit_->clear();
  return taken;
}

int PasswordForm::ShowIn(Mode mode) {
  mode_ = mode;
  const bool input = mode == Mode::Input;
  for (QWidget* w : {static_cast<QWidget*>(inputLabel_), static_cast<QWidget*>(inputEdit_)})
    w->setVisible(input);
  for (QWidget* w : {static_cast<QWidget*>(newLabel_), static_cast<QWidget*>(newEdit_),
                     static_cast<QWidget*>(confirmLabel_), static_cast<QWidget*>(confirmEdit_)})
    w->setVisible(!input);
  if (beforeShow_) beforeShow_();
  return exec();
}

void PasswordForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  (mode_ == Mode::Input ? inputEdit_ : newEdit_)->setFocus();
}

void PasswordForm::reject() {
  // Esc, and a window manager that closes the window anyway: as "Cancel".
  done(kResultCancel);
}

void PasswordForm::OkClicked() {
  if (mode_ == Mode::Set && newEdit_->text() != confirmEdit_->text()) {
    desktop_.ShowMessage(tryAnother_, kApplicationTitle, MessageIcon::None,
                         MessageButtons::Ok);
    return;
  }
  done(kResultOk);
}

}  // namespace sentrel
