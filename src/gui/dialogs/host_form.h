#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QDialog>

#include "core/host_list.h"
#include "gui/dialogs/host_form_rules.h"
#include "settings/ini_file.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace sentrel {

class AlarmChannels;
class Desktop;
struct Caption;
struct ROptions;

// What a file chooser is asked for: its title, its filters (each "caption"
// with its patterns) and where it starts.
struct FileChooserRequest {
  QString title;
  QStringList filters;  // Qt filter strings, "WAV Files (*.wav)"
  QString selectedFilter;
  QString defaultSuffix;
  QString start;  // a folder, or a file to start beside
};

// What the host dialog reaches outside itself besides the desktop and the
// channels; tests replace the lookups and the file chooser.
struct HostFormServices {
  AddressLookups lookups = SystemLookups();
  // The folder the file choosers start in when their field is empty.
  std::string programFolder;
  // Shows a modal open-file dialog; the chosen file, or empty when cancelled.
  std::function<QString(QWidget* owner, const FileChooserRequest& request)> chooseFile;
  // The list whose hosts "Reached through:" offers; none offered without it.
  const HostList* hosts = nullptr;
  // The names of the notification targets stored now, read each time the
  // dialog is filled; none when not set.
  std::function<std::vector<std::string>()> targetNames;
};

// The host properties dialog: every stored setting of one host on seven pages,
// with lookups, tests of three alarm actions, file choosers and help. It is
// made once and shown again for each edit; it edits a copy of the settings and
// writes them into the host only on a confirmed "Ok". Every control's object
// name is its language key (controls without a key have names of their own),
// so that the captions can be set by key. Window thread only.
class HostForm final : public QDialog, public HostEditor {
 public:
  // `options` (the SMTP port of the e-mail test), `desktop` (beep, error
  // boxes, sound, help) and `channels` (the messenger and e-mail tests)
  // must outlive the dialog.
  HostForm(const ROptions& options, Desktop& desktop, AlarmChannels& channels,
           HostFormServices services = {}, QWidget* parent = nullptr);

  // Fills the controls from the host, shows the dialog modally and, when the
  // user confirmed with "Ok" and the checks passed, writes the settings into
  // the host and returns true. Cancel, Esc and the close box leave the host
  // untouched (false). While the dialog is already on the screen, nothing
  // happens and false is returned.
  bool EditHost(HostEntry& host) override;

  // Sets the caption that the language file gives for `key` of `section`:
  // "HostForm" (its keys, the list items of "Ping by" and "Check every"
  // included), "OptionsForm" (the keys that the schedule page shares with
  // the options dialog: DaysOfWeek, the seven days, DayOfMonthLabel and
  // TimeLabel) or "Buttons" (Ok, Cancel, Help). Captions that copy another
  // (the trace route's time-out label, the template groups) follow it.
  // Letter case of section and key is ignored. False for a key that this
  // dialog does not show in that section.
  bool SetCaption(std::string_view section, std::string_view key, const QString& text);

  // Sets every caption that the dialog reads from a language file, each as
  // SetCaption would: the text that `file` gives, else the built-in one
  // (`file` is empty when no language file could be read).
  void ApplyLanguage(const std::optional<IniFile>& file);

  // The values the controls hold now, as "Ok" would check and store them.
  HostFormValues Values() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  struct AlarmPage {
    QCheckBox* master = nullptr;
    QLabel* countsLabel = nullptr;
    QLineEdit* repeatCount = nullptr;
    QCheckBox* showBox = nullptr;
    QCheckBox* playWav = nullptr;
    QLineEdit* wavFile = nullptr;
    QPushButton* wavBrowse = nullptr;
    QPushButton* wavTest = nullptr;
    QCheckBox* sendLan = nullptr;
    QLineEdit* lanName = nullptr;
    QPushButton* lanTest = nullptr;
    QCheckBox* sendEmail = nullptr;
    QLineEdit* emailAddress = nullptr;
    QPushButton* emailTest = nullptr;
    QCheckBox* runPrg = nullptr;
    QLineEdit* programName = nullptr;
    QPushButton* programBrowse = nullptr;
    QLabel* paramsLabel = nullptr;
    QLineEdit* params = nullptr;
    QCheckBox* runTraceRoute = nullptr;
    QLabel* notifyLabel = nullptr;
    QListWidget* notify = nullptr;  // one checkable item per target
    // On the template page.
    QGroupBox* templateBox = nullptr;
    QLineEdit* subject = nullptr;
    QPlainTextEdit* body = nullptr;
  };

  QWidget* BuildGeneralPage();
  QWidget* BuildSchedulePage();
  QWidget* BuildAlarmPage(AlarmPage& page, const char* side, const char* masterKey,
                          const QString& masterText);
  QWidget* BuildTemplatePage();
  QWidget* BuildLightPage();
  QWidget* BuildDegradationPage();
  void Connect();
  void ConnectAlarmPage(AlarmPage& page);

  void Fill(const HostFormValues& values);
  // "Reached through:" offers `choices` besides item 0.
  void SetParentChoices(const std::vector<ParentChoice>& choices);
  void FillAlarm(AlarmPage& page, const AlarmFormValues& values);
  // The notification targets stored now, for the "Notify:" lists.
  std::vector<std::string> TargetNamesNow() const;
  AlarmFormValues AlarmValues(const AlarmPage& page, const AlarmFormValues& filled) const;
  void ApplyEnablingRules();
  static void ApplyAlarmEnabling(AlarmPage& page, const AlarmEnabling& enabling);
  void ShowCaption(const Caption& caption, const QString& text);
  void UpdateAccessibleNames();

  // The text of `key` (section HostForm) in the dialog's language.
  std::string Text(std::string_view key) const;
  std::string SubjectPlaceholder() const;
  void OkClicked();
  // "Ping by" address with an empty address field and a name that
  // resolves: the name is taken as it is, pinged by name.
  void AcceptNameAlone();
  void ShowError(std::string_view message);
  std::array<QLineEdit*, 5> ClampedFields() const;
  // Puts a clamped field ("Day:", the trace route's buffer size and time to
  // live, a count of repeats) back within its bounds, with a beep.
  void KeepBounds(QLineEdit* field);
  void CheckThreshold(QLineEdit* field);
  void LookUpName();
  void LookUpAddress();
  void TestWav(const AlarmPage& page);
  void TestLan(const AlarmPage& page);
  void TestEmail(const AlarmPage& page);
  void ChooseWav(AlarmPage& page);
  void ChooseProgram(AlarmPage& page);
  void ChooseInto(QLineEdit* field, FileChooserRequest request);
  void Help();

  const ROptions& options_;
  Desktop& desktop_;
  AlarmChannels& channels_;
  HostFormServices services_;
  // The language shown: the messages and the mail test's report speak it.
  std::optional<IniFile> language_;

  // What Fill put into the controls: a text the user left as it was is
  // handed back byte for byte, whatever the editor made of it.
  HostFormValues filled_;
  HostSettings confirmed_;
  bool filling_ = false;

  QTabWidget* tabs_ = nullptr;
  // General
  QLineEdit* hostIP_ = nullptr;
  QPushButton* toName_ = nullptr;
  QLineEdit* hostName_ = nullptr;
  QPushButton* toIP_ = nullptr;
  QLineEdit* hostDesc_ = nullptr;
  QLineEdit* retries_ = nullptr;
  QLineEdit* timeOut_ = nullptr;
  QLineEdit* pbs_ = nullptr;
  QLineEdit* pttl_ = nullptr;
  QLineEdit* ptos_ = nullptr;
  QComboBox* pingBy_ = nullptr;
  QComboBox* ipFamily_ = nullptr;
  QLabel* traceTimeOutLabel_ = nullptr;
  QLineEdit* traceTimeOut_ = nullptr;
  QLineEdit* traceBufferSize_ = nullptr;
  QLineEdit* traceTTL_ = nullptr;
  QLineEdit* maxNumHops_ = nullptr;
  QCheckBox* useAsDefault_ = nullptr;
  QComboBox* parent_ = nullptr;  // item 0: reached directly; the others carry their key
  // Schedule
  QComboBox* checkEvery_ = nullptr;
  QLabel* dayLabel_ = nullptr;
  QLineEdit* day_ = nullptr;
  std::array<QCheckBox*, 7> days_{};
  QLabel* timeLabel_ = nullptr;
  QListWidget* times_ = nullptr;
  QLabel* pingIntervalLabel_ = nullptr;
  QLineEdit* pingInterval_ = nullptr;
  // On renewal, On loss, Message template
  AlarmPage renewal_;
  AlarmPage loss_;
  // Light
  std::array<QLabel*, 4> timeStr_{};
  std::array<QLineEdit*, 4> lightTimes_{};
  std::array<QLabel*, 4> msStr_{};
  // Degradation
  QLineEdit* degradedLatency_ = nullptr;
  QLabel* degradedLatencyUnit_ = nullptr;
  QLineEdit* degradedLoss_ = nullptr;
  QLabel* degradedLossUnit_ = nullptr;
  QLineEdit* degradedChecks_ = nullptr;
  QLabel* degradedChecksUnit_ = nullptr;
  QListWidget* degradedTargets_ = nullptr;
  // Buttons
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* help_ = nullptr;
};

// The open-file dialog of the desktop, non-native so that it looks and
// behaves the same everywhere.
QString ChooseFileWithDialog(QWidget* owner, const FileChooserRequest& request);

}  // namespace sentrel
