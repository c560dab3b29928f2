#include "gui/dialogs/options_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/text.h"
#include "export/listen_address.h"
#include "gui/dialogs/dialog_fit.h"
#include "gui/dialogs/host_form_rules.h"
#include "gui/dialogs/mail_test_report.h"
#include "gui/dialogs/notifications_page.h"
#include "gui/dialogs/options_form_rules.h"
#include "gui/dialogs/password_form.h"
#include "gui/dialogs/schedule_fields.h"
#include "gui/dialogs/schedule_widgets.h"
#include "gui/language_captions.h"
#include "gui/wait_cursor.h"
#include "notify/dial_up.h"
#include "notify/mail_message.h"
#include "platform/desktop.h"
#include "platform/registry.h"
#include "settings/code_page.h"
#include "settings/ini_file.h"
#include "settings/language_table.h"
#include "settings/options.h"

namespace sentrel {

namespace {

constexpr int kShowHelpContext = 15;

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

// Paths and passwords are kept as the bytes stored, which need not be UTF-8:
// left unchanged in the dialog, they go back as they were.
std::string Kept(const QString& now, const std::string& stored) {
  return now == Q(stored) ? stored : S(now);
}

QLabel* Label(const char* key, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(key);
  return label;
}

QCheckBox* Check(const char* key, const QString& text, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(key);
  return box;
}

// A text field named `name`; its accessible name follows `label`'s caption.
QLineEdit* Field(const char* name, QLabel* label, QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  if (label) label->setBuddy(field);
  return field;
}

QLineEdit* DigitsField(const char* name, QLabel* label, QWidget* parent) {
  QLineEdit* field = Field(name, label, parent);
  field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), field));
  return field;
}

QComboBox* List(const char* name, QLabel* label, const QStringList& items, QWidget* parent) {
  auto* list = new QComboBox(parent);
  list->setObjectName(name);
  list->addItems(items);
  if (label) label->setBuddy(list);
  return list;
}

QPushButton* FolderButton(const char* name, const QString& accessible, QWidget* parent) {
  auto* button = new QPushButton("...", parent);
  button->setObjectName(name);
  button->setAccessibleName(accessible);
  button->setToolTip(accessible);
  button->setAutoDefault(false);
  NarrowToCaption(*button);
  return button;
}

QWidget* Page(const char* key, QWidget* parent) {
  auto* page = new QWidget(parent);
  page->setObjectName(key);
  return page;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, bool stretch = false) {
  auto* row = new QHBoxLayout;
  for (QWidget* w : widgets) row->addWidget(w);
  if (stretch) row->addStretch(1);
  return row;
}

// The index to select for a stored item number; out of range selects none.
int ItemIndex(const QComboBox* list, int32_t value) {
  return value >= 0 && value < list->count() ? value : -1;
}

// The library's folder chooser, the same on every desktop and sized so that
// folder names read whole.
QString DefaultChooseFolder(QWidget* owner, const QString& title, const QString& start) {
  QFileDialog dialog(owner, title, start);
  dialog.setObjectName("FolderChooser");
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::Directory);
  FitFileChooser(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace


OptionsForm::OptionsForm(OptionsFormContext context, QWidget* parent)
    : QDialog(parent), context_(std::move(context)), chooseFolder_(DefaultChooseFolder) {
  setObjectName("OptionsForm");
  setWindowTitle("Options");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);

  pages_ = new QTabWidget(this);
  pages_->setObjectName("Pages");
  pages_->addTab(BuildInterfacePage(), "Interface");
  pages_->addTab(BuildLogPage(), "Log settings");
  pages_->addTab(BuildMailPage(), "eMail Settings");
  pages_->addTab(BuildStatusPage(), "Status notification");
  notifications_ = new NotificationsPage(context_.desktop, this);
  pages_->addTab(notifications_, "Notifications");

  ok_ = new QPushButton("Ok", this);
  cancel_ = new QPushButton("Cancel", this);
  help_ = new QPushButton("Help", this);
  ok_->setObjectName("Ok");
  cancel_->setObjectName("Cancel");
  help_->setObjectName("Help");
  // No default button: Enter clicks only the button that has the focus
  // (keyPressEvent), never "Ok" from inside a field.
  for (QPushButton* b : {ok_, cancel_, help_}) b->setAutoDefault(false);
  connect(ok_, &QPushButton::clicked, this, [this] {
    CheckDayField();
    if (MetricsListenReadable()) done(kResultOk);
  });
  connect(cancel_, &QPushButton::clicked, this, [this] { done(kResultCancel); });
  connect(help_, &QPushButton::clicked, this, [this] {
    context_.desktop.ShowHelp(kShowHelpContext, HelpContextForPage(pages_->currentIndex()));
  });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  buttons->addWidget(help_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  layout->addLayout(buttons);
  KeepCaptionsWhole(*this);
}

QWidget* OptionsForm::BuildInterfacePage() {
  QWidget* page = Page("Interface", this);
  QLabel* languageLabel = Label("Language", "Language:", page);
  // Listed by name in the window's language; each entry keeps its file's.
  language_ = List("LanguageList", languageLabel, {}, page);
  for (const std::string& entry : context_.languages) language_->addItem(Q(entry), Q(entry));
  // Picked with the mouse only; the dialog's own keys still pass.
  language_->installEventFilter(this);

  QLabel* dataLabel = Label("PathToData", "Path to data:", page);
  pathToData_ = Field("PathToDataEdit", dataLabel, page);
  pathToData_->installEventFilter(this);
  QPushButton* dataButton = FolderButton("PathToDataBtn", "Choose the data folder", page);
  connect(dataButton, &QPushButton::clicked, this, [this] { ChooseFolder(pathToData_); });

  minToTray_ = Check("MinToTray", "&Minimize to Tray", page);
  autoRun_ = Check("AutoRun", "Auto &Run", page);
  playOnce_ = Check("MultPlayWAV", "Play WAV files only once", page);

  auto* form = new QFormLayout;
  form->addRow(languageLabel, language_);
  form->addRow(dataLabel, Row({pathToData_, dataButton}));
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addWidget(minToTray_);
  layout->addWidget(autoRun_);
  layout->addWidget(playOnce_);
  layout->addStretch(1);
  return page;
}

QWidget* OptionsForm::BuildLogPage() {
  QWidget* page = Page("LogSettings", this);
  QLabel* detailLabel = Label("LogDetail", "Log detail:", page);
  logDetail_ = List("LogDetailList", detailLabel,
                    {"Don't log server events.", "Log host state changes only.",
                     "Log all host events."},
                    page);
  logDetail_->setEditable(true);
  logDetail_->setInsertPolicy(QComboBox::NoInsert);

  QLabel* sizeLabel = Label("LogSize", "Log size:", page);
  logSize_ = DigitsField("LogSizeEdit", sizeLabel, page);
  logSize_->setMaximumWidth(80);
  QLabel* megabytes = Label("LogSize1", "Mb.", page);

  QLabel* pathLabel = Label("PathToLog", "Path to log file:", page);
  pathToLog_ = Field("PathToLogEdit", pathLabel, page);
  pathToLog_->installEventFilter(this);
  QPushButton* pathButton = FolderButton("PathToLogBtn", "Choose the log folder", page);
  connect(pathButton, &QPushButton::clicked, this, [this] { ChooseFolder(pathToLog_); });

  deleteToRecycle_ = Check("DeleteLog2Recycle", "Delete log file to recycle &bin", page);

  auto* form = new QFormLayout;
  form->addRow(detailLabel, logDetail_);
  form->addRow(sizeLabel, Row({logSize_, megabytes}, true));
  form->addRow(pathLabel, Row({pathToLog_, pathButton}));
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addWidget(deleteToRecycle_);
  layout->addStretch(1);
  return page;
}

QWidget* OptionsForm::BuildMailPage() {
  QWidget* page = Page("EmailSettings", this);
  // "SMTP server" over "name:", two captions of their own.
  QLabel* server1 = Label("ServerName1", "SMTP server", page);
  QLabel* server2 = Label("ServerName2", "name:", page);
  auto* serverCaption = new QVBoxLayout;
  serverCaption->setSpacing(0);
  serverCaption->addWidget(server1);
  serverCaption->addWidget(server2);
  serverName_ = Field("ServerNameEdit", server1, page);
  QLabel* portLabel = Label("Port", "Port:", page);
  port_ = DigitsField("PortEdit", portLabel, page);
  port_->setMaximumWidth(70);
  QLabel* fromLabel = Label("From", "From:", page);
  from_ = Field("FromEdit", fromLabel, page);
  QLabel* securityLabel = Label("Encryption", "Encryption:", page);
  security_ = List("SMTPSecurityList", securityLabel,
                   {"None", "STARTTLS when offered", "STARTTLS required", "TLS (SMTPS)"}, page);
  // The port goes with the choice unless the user typed a port of their own.
  connect(security_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (const auto port = FollowingPort(S(port_->text()), index)) port_->setText(Q(*port));
    UpdateEnabling();
  });
  mailTest_ = new QPushButton("Test", page);
  mailTest_->setObjectName("MailTest");
  mailTest_->setAutoDefault(false);
  mailTest_->setVisible(false);
  connect(mailTest_, &QPushButton::clicked, this, [this] { TestMail(); });
  caFileLabel_ = Label("SMTPCAFile", "CA file:", page);
  caFile_ = Field("SMTPCAFileEdit", caFileLabel_, page);
  caFileButton_ = FolderButton("SMTPCAFileBtn", "Choose the CA file", page);
  connect(caFileButton_, &QPushButton::clicked, this, [this] { ChooseCaFile(); });

  auto* server = new QGridLayout;
  server->addLayout(serverCaption, 0, 0);
  server->addWidget(serverName_, 0, 1);
  server->addWidget(portLabel, 0, 2);
  server->addWidget(port_, 0, 3);
  server->addWidget(fromLabel, 1, 0);
  server->addWidget(from_, 1, 1, 1, 3);
  server->addWidget(securityLabel, 2, 0);
  server->addLayout(Row({security_}, true), 2, 1);
  server->addWidget(mailTest_, 2, 2, 1, 2);
  server->addWidget(caFileLabel_, 3, 0);
  server->addLayout(Row({caFile_, caFileButton_}), 3, 1, 1, 3);
  server->setColumnStretch(1, 1);

  auto* via = new QGroupBox("Connect via", page);
  via->setObjectName("ConnectVia");
  viaLan_ = new QRadioButton("Lan", via);
  viaLan_->setObjectName("ViaLan");
  viaDialUp_ = new QRadioButton("DialUp", via);
  viaDialUp_->setObjectName("DialUp");
  auto* viaLayout = new QVBoxLayout(via);
  viaLayout->addWidget(viaLan_);
  viaLayout->addWidget(viaDialUp_);
  viaLayout->addStretch(1);
  connect(viaDialUp_, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });

  auto* auth = new QGroupBox("SMTP Authentication", page);
  auth->setObjectName("SMTPAuthentication");
  QLabel* userLabel = Label("Username", "Username:", auth);
  smtpUsername_ = Field("SMTPUsernameEdit", userLabel, auth);
  QLabel* smtpPasswordLabel = Label("Password", "Password:", auth);
  smtpPassword_ = Field("SMTPPasswordEdit", smtpPasswordLabel, auth);
  smtpPassword_->setEchoMode(QLineEdit::Password);
  auto* authLayout = new QFormLayout(auth);
  authLayout->addRow(userLabel, smtpUsername_);
  authLayout->addRow(smtpPasswordLabel, smtpPassword_);

  auto* dial = new QGroupBox("DialUp Options", page);
  dial->setObjectName("DialUpOptions");
  autoConnect_ = Check("AutoConnect", "AutoConnect", dial);
  autoConnect_->setEnabled(false);
  disconnect_ = Check("Disconnect", "Disconnect after transfer", dial);
  connectionLabel_ = Label("Connection", "Connection:", dial);
  connection_ = List("ConnectionList", connectionLabel_, {kNoConnection}, dial);
  connection_->setMinimumContentsLength(16);
  loginLabel_ = Label("Login", "Login:", dial);
  login_ = Field("LoginEdit", loginLabel_, dial);
  passwordLabel_ = Label("Password", "Password:", dial);
  password_ = Field("PasswordEdit", passwordLabel_, dial);
  auto* dialForm = new QFormLayout;
  dialForm->addRow(connectionLabel_, connection_);
  dialForm->addRow(loginLabel_, login_);
  dialForm->addRow(passwordLabel_, password_);
  auto* dialLayout = new QVBoxLayout(dial);
  dialLayout->addWidget(autoConnect_);
  dialLayout->addWidget(disconnect_);
  dialLayout->addLayout(dialForm);

  auto* left = new QVBoxLayout;
  left->addWidget(via);
  left->addWidget(auth);
  auto* groups = new QHBoxLayout;
  groups->addLayout(left, 1);
  groups->addWidget(dial, 1);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(server);
  layout->addLayout(groups);
  layout->addStretch(1);
  return page;
}

QWidget* OptionsForm::BuildStatusPage() {
  QWidget* page = Page("StatusNotification", this);
  QLabel* bodyLabel = Label("StatusLabel", "Status message body:", page);
  statusBody_ = Field("StatusBodyEdit", bodyLabel, page);
  QLabel* viaLabel = Label("SendViaLabel", "Send via:", page);
  sendVia_ = List("SendViaList", viaLabel, {"Lan", "eMail"}, page);
  QLabel* addressLabel = Label("StatAddressLabel", "Address:", page);
  statAddress_ = Field("StatAddressEdit", addressLabel, page);
  QLabel* metricsLabel = Label("MetricsListenLabel", "Metrics on:", page);
  metricsListen_ = Field("MetricsListenEdit", metricsLabel, page);
  metricsListen_->setPlaceholderText("127.0.0.1:9639");
  metricsListen_->setToolTip("Address and port of the Prometheus endpoint; empty: no endpoint");
  QLabel* uplinkLabel = Label("UplinkHostsLabel", "Uplink hosts:", page);
  uplinkHosts_ = Field("UplinkHostsEdit", uplinkLabel, page);
  uplinkHosts_->setPlaceholderText("192.168.1.1, 8.8.8.8");
  uplinkHosts_->setToolTip(
      "Addresses this computer reaches the network through, comma-separated; while none answers, "
      "loss alarms are held");
  QLabel* codePageLabel = Label("NetMessageCodePageLabel", "Messenger code page:", page);
  QStringList codePages;
  for (const std::string& item : ListCaptions(static_cast<const IniFile*>(nullptr), CaptionList::kNetMessageCodePage))
    codePages << QString::fromStdString(item);
  netMessageCodePage_ = List("NetMessageCodePageList", codePageLabel, codePages, page);
  QLabel* everyLabel = Label("SendEveryLabel", "Send every", page);
  sendEvery_ = List("SendEveryList", everyLabel, {"Month", "Week", "Day", "Never"}, page);
  connect(sendEvery_, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabling(); });
  dayLabel_ = Label("DayOfMonthLabel", "Day:", page);
  dayOfMonth_ = DigitsField("DayOfMonthEdit", dayLabel_, page);
  dayOfMonth_->setMaximumWidth(50);
  // Kept within its bounds once left (or on "Ok"), so that it can be
  // cleared and typed anew.
  connect(dayOfMonth_, &QLineEdit::editingFinished, this, [this] { CheckDayField(); });

  daysOfWeek_ = MakeDaysOfWeekBox(dayBoxes_, page);
  timeLabel_ = Label("TimeLabel", "Time:", page);
  times_ = MakeTimeGrid("Times", page);
  timeLabel_->setBuddy(times_);

  auto* fields = new QGridLayout;
  fields->addWidget(bodyLabel, 0, 0);
  fields->addWidget(statusBody_, 0, 1, 1, 3);
  fields->addWidget(viaLabel, 1, 0);
  fields->addWidget(sendVia_, 1, 1);
  fields->addWidget(addressLabel, 2, 0);
  fields->addWidget(statAddress_, 2, 1, 1, 3);
  fields->addWidget(everyLabel, 3, 0);
  fields->addWidget(sendEvery_, 3, 1);
  fields->addWidget(dayLabel_, 3, 2);
  fields->addLayout(Row({dayOfMonth_}, true), 3, 3);
  fields->addWidget(daysOfWeek_, 4, 0, 1, 4);
  fields->addWidget(timeLabel_, 5, 0, Qt::AlignTop);
  fields->addWidget(times_, 5, 1, 1, 3, Qt::AlignLeft | Qt::AlignTop);
  fields->addWidget(metricsLabel, 6, 0);
  fields->addWidget(metricsListen_, 6, 1, 1, 3);
  fields->addWidget(uplinkLabel, 7, 0);
  fields->addWidget(uplinkHosts_, 7, 1, 1, 3);
  fields->addWidget(codePageLabel, 8, 0);
  fields->addLayout(Row({netMessageCodePage_}, true), 8, 1, 1, 3);
  fields->setColumnStretch(3, 1);

  auto* layout = new QVBoxLayout(page);
  layout->addLayout(fields);
  layout->addStretch(1);
  return page;
}

bool OptionsForm::EditOptions() {
  if (isVisible() || !context_.password.CheckPassword()) return false;
  CopyIn(context_.options);
  if (exec() != kResultOk) return false;
  CopyBack(context_.options);
  // The targets as stored now, with this dialog's changes on top: a target
  // added meanwhile from the command line stays.
  Registry stored(context_.registry.Path());
  stored.Load();
  notifications_->Store(stored);
  context_.registry.TakeKeysBelow(kNotifyTargetsKey, stored);
  std::string error;
  if (!SaveOptions(context_.options, context_.registry, &error) && context_.notice)
    context_.notice("The options cannot be saved: " + error + "\r\n");
  if (context_.afterConfirm) context_.afterConfirm();
  return true;
}

void OptionsForm::CopyIn(const ROptions& o) {
  const auto language = FindLanguage(context_.languages, o.Language);
  language_->setCurrentIndex(language ? static_cast<int>(*language) : -1);
  pathToData_->setText(Q(o.PathToData));
  minToTray_->setChecked(o.MinToTray);
  autoRun_->setChecked(o.AutoRun);
  playOnce_->setChecked(!o.MultPlayWAV);
  notifications_->Load(context_.registry, o.StatusTargets);

  logDetail_->setCurrentIndex(ItemIndex(logDetail_, o.LogDetail));
  logSize_->setText(QString::number(o.LogSize));
  pathToLog_->setText(Q(o.PathToLog));
  deleteToRecycle_->setChecked(o.DeleteLog2Recycle);

  serverName_->setText(Q(o.ServerName));
  {
    // The stored port stays as stored, whatever the stored choice.
    const QSignalBlocker quiet(security_);
    security_->setCurrentIndex(ItemIndex(security_, o.SMTPSecurity));
  }
  port_->setText(QString::number(o.Port));
  from_->setText(Q(o.From));
  caFile_->setText(Q(o.SMTPCAFile));
  (o.DialUp ? viaDialUp_ : viaLan_)->setChecked(true);
  smtpUsername_->setText(Q(o.SMTPUsername));
  smtpPassword_->setText(Q(o.SMTPPassword));
  autoConnect_->setChecked(o.AutoConnect);
  disconnect_->setChecked(o.Disconnect);
  login_->setText(Q(o.Login));
  password_->setText(Q(o.Password));

  statusBody_->setText(Q(o.StatusBody));
  sendVia_->setCurrentIndex(ItemIndex(sendVia_, o.SendVia));
  statAddress_->setText(Q(o.StatAddress));
  metricsListen_->setText(Q(o.MetricsListen));
  uplinkHosts_->setText(Q(o.UplinkHosts));
  netMessageCodePage_->setCurrentIndex(CodePageItem(o.NetMessageCodePage));
  sendEvery_->setCurrentIndex(ItemIndex(sendEvery_, o.SendEvery));
  dayOfMonth_->setText(QString::number(o.DayOfMonth));
  for (std::size_t i = 0; i < dayBoxes_.size(); ++i)
    dayBoxes_[i]->setChecked((o.DaysOfWeek >> i) & 1);
  for (int slot = 0; slot < kTimeSlots; ++slot)
    times_->item(slot)->setCheckState((o.Times >> slot) & 1 ? Qt::Checked : Qt::Unchecked);
}

void OptionsForm::CopyBack(ROptions& o) const {
  o.Language = S(language_->currentData().toString());
  o.PathToData = NormalizeDataFolder(Kept(pathToData_->text(), o.PathToData));
  o.MinToTray = minToTray_->isChecked();
  o.AutoRun = autoRun_->isChecked();
  o.StatusTargets = notifications_->StatusTargets();
  o.MultPlayWAV = !playOnce_->isChecked();

  // The log detail list takes free text: a text naming an item selects it,
  // any other text leaves the level that was chosen last.
  const int typed = logDetail_->findText(logDetail_->currentText(), Qt::MatchFixedString);
  const int detail = typed >= 0 ? typed : logDetail_->currentIndex();
  if (detail >= 0) o.LogDetail = detail;
  o.LogSize = ParseOptionNumber(S(logSize_->text()));
  o.PathToLog = Kept(pathToLog_->text(), o.PathToLog);
  o.DeleteLog2Recycle = deleteToRecycle_->isChecked();

  o.ServerName = NormalizeServerName(S(serverName_->text()));
  o.Port = ParseOptionNumber(S(port_->text()));
  o.From = S(from_->text());
  if (security_->currentIndex() >= 0) o.SMTPSecurity = security_->currentIndex();
  o.SMTPCAFile = NormalizeDataFolder(Kept(caFile_->text(), o.SMTPCAFile));
  o.DialUp = viaDialUp_->isChecked();
  o.SMTPUsername = S(smtpUsername_->text());
  o.SMTPPassword = Kept(smtpPassword_->text(), o.SMTPPassword);
  o.AutoConnect = autoConnect_->isChecked();
  o.Disconnect = disconnect_->isChecked();
  // "None" in the window's language is stored as the word the channel knows.
  o.Connection = connection_->currentIndex() == 0 ? std::string(kNoConnection)
                                                  : S(connection_->currentText());
  o.Login = S(login_->text());
  o.Password = Kept(password_->text(), o.Password);

  o.StatusBody = S(statusBody_->text());
  if (sendVia_->currentIndex() >= 0) o.SendVia = sendVia_->currentIndex();
  o.StatAddress = S(statAddress_->text());
  o.MetricsListen = std::string(TrimBlanksView(S(metricsListen_->text())));
  o.UplinkHosts = std::string(TrimBlanksView(S(uplinkHosts_->text())));
  // An unknown stored value stays unless another item was chosen.
  if (netMessageCodePage_->currentIndex() != CodePageItem(o.NetMessageCodePage))
    o.NetMessageCodePage = CodePageOfItem(netMessageCodePage_->currentIndex());
  if (sendEvery_->currentIndex() >= 0) o.SendEvery = sendEvery_->currentIndex();
  o.DayOfMonth = ParseOptionNumber(S(dayOfMonth_->text()));
  int32_t days = 0;
  for (std::size_t i = 0; i < dayBoxes_.size(); ++i) {
    if (dayBoxes_[i]->isChecked()) days |= int32_t{1} << i;
  }
  o.DaysOfWeek = days;
  uint64_t times = 0;
  for (int slot = 0; slot < kTimeSlots; ++slot) {
    if (times_->item(slot)->checkState() == Qt::Checked) times |= uint64_t{1} << slot;
  }
  o.Times = times;
}

QString OptionsForm::Text(std::string_view key) const {
  return Q(CaptionText(languageFile_, kOptionsFormSection, key));
}

void OptionsForm::ApplyLanguage(const std::optional<IniFile>& file) {
  languageFile_ = file;
  ApplyCaptionsByName(*this, LanguageWindow::kOptionsForm, file);
  for (int i = 0; i < language_->count(); ++i) {
    const std::string name = S(language_->itemData(i).toString());
    // A language the table does not name shows its file's name.
    const std::string shown = CaptionText(file, kLanguageNamesSection, name);
    language_->setItemText(i, Q(shown.empty() ? name : shown));
  }
  if (connection_->count() > 0) connection_->setItemText(0, Text("NoConnection"));
}

void OptionsForm::showEvent(QShowEvent* event) {
  // A list view takes no name from its label; follow the current caption.
  times_->setAccessibleName(timeLabel_->text().remove('&'));
  FillConnections();
  UpdateEnabling();
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    FitToContents(*this);
    adjustPosition(parentWidget());
  }
}

void OptionsForm::FillConnections() {
  const bool available = context_.dialUp.Available();
  std::vector<std::string> choices = ConnectionChoices({});
  if (available) {
    choices = ConnectionChoices(context_.dialUp.ListEntries());
  } else {
    // No dial-up on this system: mail can only go over the LAN.
    viaLan_->setChecked(true);
  }
  viaDialUp_->setEnabled(available);
  connection_->clear();
  for (const std::string& choice : choices) connection_->addItem(Q(choice));
  connection_->setItemText(0, Text("NoConnection"));
  connection_->setCurrentIndex(
      static_cast<int>(ConnectionIndex(choices, context_.options.Connection)));
}

void OptionsForm::UpdateEnabling() {
  const OptionsEnabling on = EnablingFor(viaDialUp_->isChecked(), sendEvery_->currentIndex());
  for (QWidget* w : std::initializer_list<QWidget*>{disconnect_, connectionLabel_, connection_,
                                                    loginLabel_, login_, passwordLabel_, password_})
    w->setEnabled(on.dialUpOptions);
  autoConnect_->setEnabled(false);
  // Certificates matter only where TLS may be spoken.
  const bool tls = security_->currentIndex() > 0;
  for (QWidget* w : std::initializer_list<QWidget*>{caFileLabel_, caFile_, caFileButton_})
    w->setEnabled(tls);
  dayLabel_->setEnabled(on.dayOfMonth);
  dayOfMonth_->setEnabled(on.dayOfMonth);
  for (QCheckBox* box : dayBoxes_) box->setEnabled(on.daysOfWeek);
  timeLabel_->setEnabled(on.times);
  times_->setEnabled(on.times);
}

bool OptionsForm::MetricsListenReadable() {
  std::string error;
  if (ParseListenAddress(S(metricsListen_->text()), error) || error.empty()) return true;
  context_.desktop.ShowMessage("Metrics on: " + error, kApplicationTitle, MessageIcon::Warning);
  pages_->setCurrentWidget(metricsListen_->parentWidget());
  metricsListen_->setFocus();
  return false;
}

void OptionsForm::CheckDayField() {
  // A value the user has not typed in since it was filled stays as stored.
  if (!dayOfMonth_->isModified()) return;
  const auto bound = KeptWithin(S(dayOfMonth_->text()), kFirstDay, kLastDay);
  if (!bound) return;
  dayOfMonth_->setText(Q(*bound));
  context_.desktop.Beep();
}

void OptionsForm::ChooseFolder(QLineEdit* field) {
  const QString start = Q(TrimBlanks(S(field->text())));
  const QString chosen = chooseFolder_(this, Text("FolderTitle"), start);
  if (!chosen.isEmpty()) field->setText(QDir::toNativeSeparators(chosen));
}

void OptionsForm::ChooseCaFile() {
  QFileDialog dialog(this, caFileLabel_->text().remove('&').remove(':'),
                     Q(TrimBlanks(S(caFile_->text()))));
  dialog.setObjectName("CaFileChooser");
  dialog.setOptions(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({"PEM certificates (*.pem *.crt *.cer)", "All files (*)"});
  FitFileChooser(dialog);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    caFile_->setText(QDir::toNativeSeparators(dialog.selectedFiles().front()));
}

void OptionsForm::SetMailTest(MailTest test) {
  runMailTest_ = std::move(test);
  mailTest_->setVisible(static_cast<bool>(runMailTest_));
}

void OptionsForm::TestMail() {
  if (!runMailTest_) return;
  const auto text = [this](const char* key) {
    return Q(CaptionText(languageFile_, kOptionsFormSection, key));
  };
  QInputDialog ask(this);
  ask.setObjectName("MailTestToDialog");
  ask.setWindowTitle(kApplicationTitle);
  ask.setLabelText(text("MailTestTo"));
  ask.setTextValue(Q(lastTestTo_.empty() ? ExtractAddress(S(from_->text()), false) : lastTestTo_));
  if (ask.exec() != QDialog::Accepted) return;
  const std::string to(TrimBlanksView(S(ask.textValue())));
  if (to.empty()) return;
  lastTestTo_ = to;
  // The settings as they stand in the dialog, stored or not.
  ROptions trial = context_.options;
  CopyBack(trial);
  MailResult result;
  {
    WaitCursor wait;
    result = runMailTest_(trial, to);
  }
  context_.desktop.ShowMessage(MailTestReport(result, languageFile_), kApplicationTitle,
                               result.Accepted() ? MessageIcon::Information : MessageIcon::Error);
}

void OptionsForm::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Enter clicks the button that has the focus and does nothing in a field.
      if (auto* button = qobject_cast<QPushButton*>(focusWidget())) button->click();
      event->accept();
      return;
    case Qt::Key_Escape:
      done(kResultCancel);
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

bool OptionsForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == language_ &&
      (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Tab:
      case Qt::Key_Backtab:
      case Qt::Key_Escape:
      case Qt::Key_Return:
      case Qt::Key_Enter:
        return false;
      default:
        return true;
    }
  }
  if (watched == pathToData_) return FilterPathKey(pathToData_, event);
  if (watched == pathToLog_) return FilterPathKey(pathToLog_, event);
  return QDialog::eventFilter(watched, event);
}

bool OptionsForm::FilterPathKey(QLineEdit* field, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->isAutoRepeat()) break;
      // X11 reports Shift's own press without the Shift modifier, other
      // systems with it; only Ctrl, Alt and Meta rule it out.
      const Qt::KeyboardModifiers others =
          key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
      const bool shiftAlone = key->key() == Qt::Key_Shift && others == Qt::NoModifier;
      shiftArmed_ = shiftAlone ? field : nullptr;
      break;
    }
    case QEvent::KeyRelease: {
      const auto* key = static_cast<QKeyEvent*>(event);
      // Shift opens the chooser when it is released with nothing pressed
      // in between, so that Shift still types capitals in the path.
      if (key->key() == Qt::Key_Shift && !key->isAutoRepeat() && shiftArmed_ == field) {
        shiftArmed_ = nullptr;
        ChooseFolder(field);
        return true;
      }
      break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::FocusOut:
      shiftArmed_ = nullptr;
      break;
    default:
      break;
  }
  return false;
}

}  // namespace sentrel
