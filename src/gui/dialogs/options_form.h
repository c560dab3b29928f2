#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>

#include "notify/mail_result.h"
#include "settings/ini_file.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace sentrel {

class Desktop;
class DialUp;
class NotificationsPage;
class PasswordForm;
class Registry;
struct ROptions;

// What the options dialog works on; the application wires it.
struct OptionsFormContext {
  ROptions& options;
  Registry& registry;  // where SaveOptions stores them
  Desktop& desktop;    // beep, help
  PasswordForm& password;
  const DialUp& dialUp;  // the phone book, and whether dial-up exists at all
  // The language entries, listed once at start (ListLanguageFiles).
  std::vector<std::string> languages;
  // After a confirmed dialog has been stored: the steps that belong to the
  // windows (the tray mode, the language of all four windows and the tray
  // menu, "Stop all sounds" from MultPlayWAV).
  std::function<void()> afterConfirm;
  // One line for the log pane, when the options cannot be saved.
  std::function<void(const std::string&)> notice;
};

// Asks for a folder; an empty result means the chooser was cancelled.
using FolderChooser =
    std::function<QString(QWidget* owner, const QString& title, const QString& start)>;

// The options dialog ("OptionsForm"): the global options on four pages.
// Created once at start and reused; it opens again on the page on which it
// was closed. Every captioned control is named by its language key (the
// pages "Interface", "LogSettings", "EmailSettings", "StatusNotification";
// labels, check boxes, radio buttons, groups and the buttons "Ok", "Cancel",
// "Help", "MailTest"); both "Password:" labels carry the key "Password".
// Fields without a caption of their own are named after the option they
// show with "Edit" or "List" appended ("PortEdit", "LogDetailList",
// "SendEveryList", "SMTPSecurityList"), the time list is "Times", the file
// buttons "PathToDataBtn", "PathToLogBtn" and "SMTPCAFileBtn". Window
// thread only.
class OptionsForm final : public QDialog {
 public:
  static constexpr int kResultOk = 1;
  static constexpr int kResultCancel = 2;

  explicit OptionsForm(OptionsFormContext context, QWidget* parent = nullptr);

  // The options command: asks for the access password, shows the options,
  // and on "Ok" copies them back (normalised) into the record, saves them
  // and runs `afterConfirm`. Returns whether the options were confirmed;
  // false without anything shown when the dialog is already up or the
  // password is refused. Cancel or closing leaves the record untouched.
  bool EditOptions();

  // Sets every caption from the language file (the built-in text for what
  // it lacks): the named controls, the lists, the languages' names, the
  // "None" connection and the folder chooser's title; the file is kept for
  // the texts that the dialog puts together itself.
  void ApplyLanguage(const std::optional<IniFile>& file);

  // Replaces the folder chooser (the library's by default).
  void SetFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }

  // What "Test" on the e-mail page runs: one mail to `to` through the SMTP
  // settings being edited (not yet stored), returning how it went. Without
  // one the button is hidden.
  using MailTest = std::function<MailResult(const ROptions& options, const std::string& to)>;
  void SetMailTest(MailTest test);

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildInterfacePage();
  QWidget* BuildLogPage();
  QWidget* BuildMailPage();
  QWidget* BuildStatusPage();

  void CopyIn(const ROptions& o);
  void CopyBack(ROptions& o) const;
  void FillConnections();
  void UpdateEnabling();
  void CheckDayField();
  // The metrics address is empty or readable; else a box says why, the
  // field gets the focus and the dialog stays open.
  bool MetricsListenReadable();
  void ChooseFolder(QLineEdit* field);
  void ChooseCaFile();
  // Asks for a recipient and reports how the test mail went.
  void TestMail();
  bool FilterPathKey(QLineEdit* field, QEvent* event);
  // The text of `key` (section OptionsForm) in the dialog's language.
  QString Text(std::string_view key) const;

  OptionsFormContext context_;
  std::optional<IniFile> languageFile_;
  FolderChooser chooseFolder_;

  QTabWidget* pages_;
  // Interface
  QComboBox* language_;
  QLineEdit* pathToData_;
  QCheckBox* minToTray_;
  QCheckBox* autoRun_;
  QCheckBox* playOnce_;
  // Log settings
  QComboBox* logDetail_;
  QLineEdit* logSize_;
  QLineEdit* pathToLog_;
  QCheckBox* deleteToRecycle_;
  // eMail settings
  QLineEdit* serverName_;
  QLineEdit* port_;
  QLineEdit* from_;
  QComboBox* security_;
  QLabel* caFileLabel_;
  QLineEdit* caFile_;
  QPushButton* caFileButton_;
  QPushButton* mailTest_;
  QRadioButton* viaLan_;
  QRadioButton* viaDialUp_;
  QLineEdit* smtpUsername_;
  QLineEdit* smtpPassword_;
  QCheckBox* autoConnect_;
  QCheckBox* disconnect_;
  QLabel* connectionLabel_;
  QComboBox* connection_;
  QLabel* loginLabel_;
  QLineEdit* login_;
  QLabel* passwordLabel_;
  QLineEdit* password_;
  // Status notification
  QLineEdit* statusBody_;
  QComboBox* sendVia_;
  QLineEdit* statAddress_;
  QLineEdit* metricsListen_;
  QLineEdit* uplinkHosts_;
  // Notifications
  NotificationsPage* notifications_;
  QComboBox* netMessageCodePage_;
  QComboBox* sendEvery_;
  QLabel* dayLabel_;
  QLineEdit* dayOfMonth_;
  QGroupBox* daysOfWeek_;
  std::array<QCheckBox*, 7> dayBoxes_{};
  QLabel* timeLabel_;
  QListWidget* times_;

  QPushButton* ok_;
  QPushButton* cancel_;
  QPushButton* help_;

  MailTest runMailTest_;
  std::string lastTestTo_;  // the recipient of the last test, offered again

  // The path field in which Shift went down alone; the chooser opens when
  // it comes up with no other key or click in between.
  QLineEdit* shiftArmed_ = nullptr;
};

}  // namespace sentrel
