#include "gui/dialogs/host_form.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/text.h"
#include "core/alarm_channels.h"
#include "gui/artwork.h"
#include "gui/dialogs/dialog_fit.h"
#include "gui/dialogs/mail_test_report.h"
#include "gui/dialogs/schedule_fields.h"
#include "gui/dialogs/schedule_widgets.h"
#include "gui/language_captions.h"
#include "gui/wait_cursor.h"
#include "platform/desktop.h"
#include "settings/ini_file.h"
#include "settings/language_table.h"
#include "settings/options.h"

namespace sentrel {

namespace {

constexpr auto kPageKeys = std::to_array<const char*>(
    {"General", "Schedule", "Onrenewal", "Onloss", "MessageTemplate", "Light", "Degradation"});

// Input rules: digits only (at most nine, so that a value never wraps
// around), what an IPv4 or IPv6 address with a zone is written with, and at
// most two digits.
constexpr const char* kDigits = "[0-9]{0,9}";
constexpr const char* kAddressCharacters = "[0-9A-Fa-f.:]*(%[0-9A-Za-z._-]*)?";
constexpr const char* kTwoDigits = "[0-9]{0,2}";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The text of a field, given back as it was filled in when the user left it
// unchanged, so that the data file can keep that field's stored bytes.
std::string Kept(const QString& now, const std::string& filled) {
  return now == Q(filled) ? filled : now.toStdString();
}

std::string KeptMemo(const QString& now, const std::string& filled) {
  return now == Q(WithLfBreaks(filled)) ? filled : WithCrLfBreaks(now.toStdString());
}

// A caption without its mnemonic marks, for screen readers.
QString Plain(const QString& caption) {
  QString plain;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    plain += caption[i];
  }
  return plain.simplified();
}

// The page that `key` names, -1 when it names none.
int PageOf(std::string_view key) {
  for (std::size_t i = 0; i < kPageKeys.size(); ++i) {
    if (EqualsIgnoringCase(key, kPageKeys[i])) return static_cast<int>(i);
  }
  return -1;
}

// The captions that the dialog shows, in the order in which the language
// loader reads them.
const std::vector<CaptionRead>& HostCaptions() {
  static const std::vector<CaptionRead> reads = WindowCaptions(LanguageWindow::kHostForm);
  return reads;
}

QLabel* MakeLabel(const char* key, const QString& text) {
  auto* label = new QLabel(text);
  label->setObjectName(key);
  return label;
}

QLineEdit* MakeEdit(const QString& name, const char* rule = nullptr, int width = 0) {
  auto* edit = new QLineEdit;
  edit->setObjectName(name);
  if (rule) edit->setValidator(new QRegularExpressionValidator(QRegularExpression(rule), edit));
  if (width > 0) edit->setMaximumWidth(width);
  return edit;
}

QCheckBox* MakeCheck(const char* key, const QString& text) {
  auto* box = new QCheckBox(text);
  box->setObjectName(key);
  return box;
}

QPushButton* MakeButton(const QString& name, const QString& text) {
  auto* button = new QPushButton(text);
  button->setObjectName(name);
  return button;
}

// One row of a form grid: a label, its field and a button acting on it.
struct FieldRow {
  QLabel* label;
  QWidget* field;
  QWidget* button = nullptr;
};

// Adds the rows to `grid` from its top, label, field and button in columns
// 0, 1 and 2, each field the buddy of its label. Where other rows have a
// button, a field without one reaches into that column. Returns the number
// of rows added.
int AddRows(QGridLayout& grid, std::initializer_list<FieldRow> rows) {
  const bool buttons =
      std::any_of(rows.begin(), rows.end(), [](const FieldRow& r) { return r.button != nullptr; });
  int row = 0;
  for (const FieldRow& r : rows) {
    grid.addWidget(r.label, row, 0);
    grid.addWidget(r.field, row, 1, 1, buttons && !r.button ? 2 : 1);
    if (r.button) grid.addWidget(r.button, row, 2);
    r.label->setBuddy(r.field);
    ++row;
  }
  return row;
}

QString CaptionOf(const QWidget* widget) {
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (auto* group = qobject_cast<const QGroupBox*>(widget)) return group->title();
  return {};
}

constexpr int kNumberWidth = 90;

// A "Notify:" list: the stored targets and the names still ticked, each
// ticked as `ticked` says (letter case ignored).
void FillNotifyList(QListWidget& list, const std::vector<std::string>& stored,
                    const std::vector<std::string>& ticked) {
  list.clear();
  for (const std::string& name : NotifyItems(stored, ticked)) {
    auto* item = new QListWidgetItem(Q(name), &list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    const bool on = std::any_of(ticked.begin(), ticked.end(),
                                [&](const std::string& t) { return EqualsIgnoringCase(t, name); });
    item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
}

// The ticked names of a "Notify:" list; unchanged ticks keep the stored
// spelling and order of `filled`.
std::vector<std::string> TickedNotifyItems(const QListWidget& list,
                                           const std::vector<std::string>& filled) {
  std::vector<std::string> names;
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->checkState() == Qt::Checked) names.push_back(list.item(i)->text().toStdString());
  }
  if (std::is_permutation(names.begin(), names.end(), filled.begin(), filled.end())) return filled;
  return names;
}

}  // namespace

HostForm::HostForm(const ROptions& options, Desktop& desktop, AlarmChannels& channels,
                   HostFormServices services, QWidget* parent)
    : QDialog(parent),
      options_(options),
      desktop_(desktop),
      channels_(channels),
      services_(std::move(services)) {
  if (!services_.chooseFile) services_.chooseFile = ChooseFileWithDialog;
  setObjectName("HostForm");
  setWindowTitle("Host Properties");
  // Modal for the main window only, so that the help window opened from
  // here stays usable.
  if (parent) setWindowModality(Qt::WindowModal);

  tabs_ = new QTabWidget;
  tabs_->setObjectName("Pages");
  tabs_->addTab(BuildGeneralPage(), "&General");
  tabs_->addTab(BuildSchedulePage(), "&Schedule");
  tabs_->addTab(BuildAlarmPage(renewal_, "Renewal", "WakeUp", "&Alarm when host wakes up"),
                "On &renewal");
  tabs_->addTab(BuildAlarmPage(loss_, "Loss", "GoesDown", "&Alarm when host goes down"),
                "On &loss");
  tabs_->addTab(BuildTemplatePage(), "Message &Template");
  tabs_->addTab(BuildLightPage(), "L&ight");
  tabs_->addTab(BuildDegradationPage(), "&Degradation");

  ok_ = MakeButton("Ok", "Ok");
  cancel_ = MakeButton("Cancel", "Cancel");
  help_ = MakeButton("Help", "Help");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  buttons->addWidget(help_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addLayout(buttons);

  // No button is the dialog's default: Enter clicks only the button that
  // has the focus, never "Ok" from inside a field.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  Connect();
  Fill(FormValuesOf(HostSettings{}, SubjectPlaceholder()));
  UpdateAccessibleNames();
  KeepCaptionsWhole(*this);
}

QWidget* HostForm::BuildGeneralPage() {
  auto* page = new QWidget;
  page->setObjectName(kPageKeys[0]);

  auto* info = new QGroupBox("Host Info");
  info->setObjectName("HostInfo");
  auto* hostIPLabel = MakeLabel("HostIP", "Host IP:");
  hostIP_ = MakeEdit("HostIPEdit", kAddressCharacters);
  toName_ = MakeButton("ToName", ">> Name");
  auto* hostNameLabel = MakeLabel("HostName", "Computer name:");
  hostName_ = MakeEdit("HostNameEdit");
  toIP_ = MakeButton("ToIP", ">> IP");
  auto* hostDescLabel = MakeLabel("HostDesc", "Description:");
  hostDesc_ = MakeEdit("HostDescEdit");
  auto* parentLabel = MakeLabel("Parent", "Reached through:");
  parent_ = new QComboBox;
  parent_->setObjectName("ParentCombo");
  parent_->addItem("(directly)", QString());
  parent_->setToolTip("While the host it is reached through is down, this host's loss alarm waits");
  auto* infoGrid = new QGridLayout(info);
  AddRows(*infoGrid, {{hostIPLabel, hostIP_, toName_},
                      {hostNameLabel, hostName_, toIP_},
                      {hostDescLabel, hostDesc_},
                      {parentLabel, parent_}});
  infoGrid->setColumnStretch(1, 1);

  auto* ping = new QGroupBox("Ping Options");
  ping->setObjectName("PingOpt");
  auto* retriesLabel = MakeLabel("NOR", "Numer of retries:");
  retries_ = MakeEdit("RetriesEdit", kDigits, kNumberWidth);
  auto* timeOutLabel = MakeLabel("TimeOut", "Timeout(msec):");
  timeOut_ = MakeEdit("TimeOutEdit", kDigits, kNumberWidth);
  auto* pbsLabel = MakeLabel("PBS", "Send buffer size:");
  pbs_ = MakeEdit("PBSEdit", kDigits, kNumberWidth);
  auto* pttlLabel = MakeLabel("PTTL", "Time To Live(TTL):");
  pttl_ = MakeEdit("PTTLEdit", kDigits, kNumberWidth);
  auto* ptosLabel = MakeLabel("PTOS", "Type Of Service(TOS):");
  ptos_ = MakeEdit("PTOSEdit", kDigits, kNumberWidth);
  auto* pingByLabel = MakeLabel("PingBy", "Ping by");
  pingBy_ = new QComboBox;
  pingBy_->setObjectName("PingByCombo");
  pingBy_->addItems({"Address", "Name"});
  // A host pinged by name follows its address when the name moves.
  pingByLabel->setBuddy(pingBy_);
  auto* ipFamilyLabel = MakeLabel("IPFamily", "Address family:");
  ipFamily_ = new QComboBox;
  ipFamily_->setObjectName("IPFamilyCombo");
  ipFamily_->addItems({"automatic", "IPv4", "IPv6"});
  ipFamilyLabel->setBuddy(ipFamily_);
  auto* pingGrid = new QGridLayout(ping);
  const int pingRows = AddRows(*pingGrid, {{retriesLabel, retries_},
                                           {timeOutLabel, timeOut_},
                                           {pbsLabel, pbs_},
                                           {pttlLabel, pttl_},
                                           {ptosLabel, ptos_},
                                           {pingByLabel, pingBy_},
                                           {ipFamilyLabel, ipFamily_}});
  pingGrid->setRowStretch(pingRows, 1);

  auto* traceBox = new QGroupBox("Trace Route");
  traceBox->setObjectName("TraceRouteBox");
  traceTimeOutLabel_ = MakeLabel("TraceTimeOutLabel", "Timeout(msec):");
  traceTimeOut_ = MakeEdit("TraceTimeOutEdit", kDigits, kNumberWidth);
  auto* traceBufferSizeLabel = MakeLabel("BufferSize", "Send buffer size:");
  traceBufferSize_ = MakeEdit("TraceBufferSizeEdit", kDigits, kNumberWidth);
  auto* traceTTLLabel = MakeLabel("TTL", "Time to live:");
  traceTTL_ = MakeEdit("TraceTTLEdit", kDigits, kNumberWidth);
  auto* maxNumHopsLabel = MakeLabel("MaxNumHops", "Max. number of hops to search for target:");
  maxNumHops_ = MakeEdit("MaxNumHopsEdit", kDigits, kNumberWidth);
  maxNumHopsLabel->setEnabled(false);
  maxNumHops_->setEnabled(false);
  auto* traceGrid = new QGridLayout(traceBox);
  const int traceRows = AddRows(*traceGrid, {{traceTimeOutLabel_, traceTimeOut_},
                                             {traceBufferSizeLabel, traceBufferSize_},
                                             {traceTTLLabel, traceTTL_},
                                             {maxNumHopsLabel, maxNumHops_}});
  traceGrid->setRowStretch(traceRows, 1);
  traceGrid->setColumnStretch(1, 1);

  useAsDefault_ = MakeCheck("Default", "Use as default");

  auto* groups = new QHBoxLayout;
  groups->addWidget(ping, 1);
  groups->addWidget(traceBox, 1);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(info);
  layout->addLayout(groups);
  layout->addWidget(useAsDefault_);
  layout->addStretch(1);
  return page;
}

QWidget* HostForm::BuildSchedulePage() {
  auto* page = new QWidget;
  page->setObjectName(kPageKeys[1]);

  auto* checkEveryLabel = MakeLabel("CheckEveryLabel", "Check every");
  checkEvery_ = new QComboBox;
  checkEvery_->setObjectName("CheckEveryCombo");
  checkEvery_->addItems({"Always", "every Month", "every Week", "every Day"});
  checkEveryLabel->setBuddy(checkEvery_);

  dayLabel_ = MakeLabel("DayOfMonthLabel", "Day:");
  day_ = MakeEdit("DayOfMonthEdit", kDigits, 60);
  dayLabel_->setBuddy(day_);

  QGroupBox* daysBox = MakeDaysOfWeekBox(days_);

  timeLabel_ = MakeLabel("TimeLabel", "Time:");
  times_ = MakeTimeGrid("TimesList");
  timeLabel_->setBuddy(times_);

  pingIntervalLabel_ = MakeLabel("PingInterval", "Ping interval(sec):");
  pingInterval_ = MakeEdit("PingIntervalEdit", kDigits, kNumberWidth);
  pingIntervalLabel_->setBuddy(pingInterval_);

  auto* grid = new QGridLayout(page);
  grid->addWidget(checkEveryLabel, 0, 0);
  grid->addWidget(checkEvery_, 0, 1, Qt::AlignLeft);
  grid->addWidget(dayLabel_, 1, 0);
  grid->addWidget(day_, 1, 1, Qt::AlignLeft);
  grid->addWidget(daysBox, 2, 0, 1, 2);
  grid->addWidget(timeLabel_, 3, 0, Qt::AlignTop);
  grid->addWidget(times_, 3, 1, Qt::AlignLeft | Qt::AlignTop);
  grid->addWidget(pingIntervalLabel_, 4, 0);
  grid->addWidget(pingInterval_, 4, 1, Qt::AlignLeft);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(5, 1);
  return page;
}

QWidget* HostForm::BuildAlarmPage(AlarmPage& p, const char* side, const char* masterKey,
                                  const QString& masterText) {
  const QString prefix = side;
  auto* page = new QWidget;
  page->setObjectName(side == std::string_view("Renewal") ? kPageKeys[2] : kPageKeys[3]);

  p.master = MakeCheck(masterKey, masterText);
  p.countsLabel = MakeLabel("Counts", "Count of repeats befor alarm:");
  p.repeatCount = MakeEdit(prefix + "RepeatCountEdit", kTwoDigits, 50);
  p.countsLabel->setBuddy(p.repeatCount);

  auto* options = new QGroupBox("Alarm Options");
  options->setObjectName("AlarmOptions");
  p.showBox = MakeCheck("ShowBox", "&Show  message box");
  p.playWav = MakeCheck("PlayWAV", "&Play WAV file:");
  p.wavFile = MakeEdit(prefix + "WAVFileEdit");
  p.wavBrowse = MakeButton(prefix + "WAVFileBrowse", "...");
  p.wavTest = MakeButton("Test", "Test");
  p.sendLan = MakeCheck("SendLan", "Send &message to this computer:");
  p.lanName = MakeEdit(prefix + "LanNameEdit");
  p.lanTest = MakeButton("Test", "Test");
  p.sendEmail = MakeCheck("SendEmail", "Send message to this &e-mail:");
  p.emailAddress = MakeEdit(prefix + "EmailAddressEdit");
  p.emailTest = MakeButton("Test", "Test");
  p.runPrg = MakeCheck("RunPrg", "&Run this program:");
  p.programName = MakeEdit(prefix + "ProgramNameEdit");
  p.programBrowse = MakeButton(prefix + "ProgramNameBrowse", "...");
  p.paramsLabel = MakeLabel("Params", "Parameters:");
  p.params = MakeEdit(prefix + "ParamsEdit");
  p.paramsLabel->setBuddy(p.params);
  p.runTraceRoute = MakeCheck("RunTraceRoute", "Run Trace Route");
  p.notifyLabel = MakeLabel("Notify", "Notify:");
  p.notify = new QListWidget;
  p.notify->setObjectName(prefix + "NotifyList");
  // A few rows show; more scroll.
  p.notify->setMaximumHeight(p.notify->fontMetrics().height() * 5);
  p.notifyLabel->setBuddy(p.notify);
  for (QPushButton* small : {p.wavBrowse, p.programBrowse}) NarrowToCaption(*small);

  auto* grid = new QGridLayout(options);
  int row = 0;
  grid->addWidget(p.showBox, row++, 0, 1, 3);
  grid->addWidget(p.playWav, row++, 0, 1, 3);
  grid->addWidget(p.wavFile, row, 0);
  grid->addWidget(p.wavBrowse, row, 1);
  grid->addWidget(p.wavTest, row++, 2);
  grid->addWidget(p.sendLan, row++, 0, 1, 3);
  grid->addWidget(p.lanName, row, 0);
  grid->addWidget(p.lanTest, row++, 2);
  grid->addWidget(p.sendEmail, row++, 0, 1, 3);
  grid->addWidget(p.emailAddress, row, 0);
  grid->addWidget(p.emailTest, row++, 2);
  grid->addWidget(p.runPrg, row++, 0, 1, 3);
  grid->addWidget(p.programName, row, 0);
  grid->addWidget(p.programBrowse, row++, 1);
  auto* paramsRow = new QHBoxLayout;
  paramsRow->addWidget(p.paramsLabel);
  paramsRow->addWidget(p.params, 1);
  grid->addLayout(paramsRow, row++, 0, 1, 3);
  grid->addWidget(p.runTraceRoute, row++, 0, 1, 3);
  grid->addWidget(p.notifyLabel, row++, 0, 1, 3);
  grid->addWidget(p.notify, row++, 0, 1, 3);
  grid->setColumnStretch(0, 1);

  auto* count = new QHBoxLayout;
  count->addWidget(p.countsLabel);
  count->addWidget(p.repeatCount);
  count->addStretch(1);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(p.master);
  layout->addLayout(count);
  layout->addWidget(options);
  layout->addStretch(1);
  return page;
}

QWidget* HostForm::BuildTemplatePage() {
  auto* page = new QWidget;
  page->setObjectName(kPageKeys[4]);
  auto* layout = new QVBoxLayout(page);
  for (AlarmPage* p : {&renewal_, &loss_}) {
    const QString prefix = p == &renewal_ ? "Renewal" : "Loss";
    p->templateBox = new QGroupBox(p == &renewal_ ? "On &renewal" : "On &loss");
    p->templateBox->setObjectName(prefix + "TemplateBox");
    auto* subjectLabel = MakeLabel("Subject", "Subject");
    p->subject = MakeEdit(prefix + "SubjectEdit");
    subjectLabel->setBuddy(p->subject);
    auto* bodyLabel = MakeLabel("MesBody", "Message body");
    p->body = new QPlainTextEdit;
    p->body->setObjectName(prefix + "MesBodyEdit");
    p->body->setTabChangesFocus(true);
    bodyLabel->setBuddy(p->body);
    auto* grid = new QGridLayout(p->templateBox);
    grid->addWidget(subjectLabel, 0, 0);
    grid->addWidget(p->subject, 0, 1);
    grid->addWidget(bodyLabel, 1, 0, Qt::AlignTop);
    grid->addWidget(p->body, 1, 1);
    grid->setColumnStretch(1, 1);
    layout->addWidget(p->templateBox, 1);
  }
  return page;
}

QWidget* HostForm::BuildLightPage() {
  auto* page = new QWidget;
  page->setObjectName(kPageKeys[5]);
  const std::vector<QIcon> lights = HostDialogLights();
  auto* grid = new QGridLayout;
  for (int row = 0; row < 6; ++row) {
    auto* image = new QLabel;
    image->setObjectName(QString("LightImage%1").arg(row));
    image->setFixedSize(24, 24);
    if (static_cast<std::size_t>(row) < lights.size())
      image->setPixmap(lights[static_cast<std::size_t>(row)].pixmap(24, 24));
    grid->addWidget(image, row, 0);
  }
  auto* grayLight = MakeLabel("GrayLight", "The host isn't checked.");
  grid->addWidget(grayLight, 0, 1, 1, 3);
  for (std::size_t i = 0; i < lightTimes_.size(); ++i) {
    const int row = static_cast<int>(i) + 1;
    timeStr_[i] = MakeLabel("TimeStr", "Time less than");
    lightTimes_[i] = MakeEdit(QString("LightTime%1Edit").arg(row), kDigits, kNumberWidth);
    msStr_[i] = MakeLabel("MSStr", "ms.");
    timeStr_[i]->setBuddy(lightTimes_[i]);
    grid->addWidget(timeStr_[i], row, 1);
    grid->addWidget(lightTimes_[i], row, 2);
    grid->addWidget(msStr_[i], row, 3);
  }
  auto* redLight = MakeLabel("RedLight", "Host isn't available.");
  grid->addWidget(redLight, 5, 1, 1, 3);
  grid->setColumnStretch(4, 1);
  grid->setVerticalSpacing(10);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(grid);
  layout->addStretch(1);
  return page;
}

QWidget* HostForm::BuildDegradationPage() {
  auto* page = new QWidget;
  page->setObjectName(kPageKeys[6]);
  // Two short lines rather than a wrapped paragraph: a wrapped label's
  // height depends on the width it is first laid out at, so the dialog
  // would not open at the same size in every language.
  auto* intro = MakeLabel("DegradedIntro",
                          "A host that answers slower or loses more than set here is degraded.");
  auto* intro2 = MakeLabel("DegradedIntro2",
                           "It is normal again once both figures are below 80 % of their thresholds.");
  degradedLatency_ = MakeEdit("DegradedLatencyEdit", kDigits, kNumberWidth);
  degradedLoss_ = MakeEdit("DegradedLossEdit", "[0-9]{0,3}", kNumberWidth);
  degradedChecks_ = MakeEdit("DegradedChecksEdit", "[0-9]{0,4}", kNumberWidth);
  degradedTargets_ = new QListWidget;
  degradedTargets_->setObjectName("DegradedNotifyList");
  // A few rows show; more scroll.
  degradedTargets_->setMaximumHeight(degradedTargets_->fontMetrics().height() * 5);
  auto* grid = new QGridLayout;
  const auto addRow = [grid](int row, QLabel* label, QLineEdit* field, QLabel* unit) {
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
    if (unit) grid->addWidget(unit, row, 2);
    label->setBuddy(field);
  };
  degradedLatencyUnit_ = MakeLabel("DegradedMs", "ms (0 = off)");
  degradedLossUnit_ = MakeLabel("DegradedPercent", "% (0 = off)");
  degradedChecksUnit_ = MakeLabel("DegradedChecksUnit", "echo requests");
  addRow(0, MakeLabel("DegradedLatency", "Average reply time above:"), degradedLatency_,
         degradedLatencyUnit_);
  addRow(1, MakeLabel("DegradedLoss", "Loss above:"), degradedLoss_, degradedLossUnit_);
  addRow(2, MakeLabel("DegradedChecks", "Judged over the latest:"), degradedChecks_,
         degradedChecksUnit_);
  grid->setColumnStretch(3, 1);
  auto* targetsLabel = MakeLabel("DegradedTargets", "Notify targets:");
  targetsLabel->setBuddy(degradedTargets_);
  auto* targetsHint = MakeLabel("DegradedTargetsHint",
                                "They are told \"degraded\" and \"recovered\".");
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(intro);
  layout->addWidget(intro2);
  layout->addSpacing(8);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addWidget(targetsLabel);
  layout->addWidget(degradedTargets_);
  layout->addWidget(targetsHint);
  layout->addStretch(1);
  return page;
}

void HostForm::Connect() {
  connect(checkEvery_, &QComboBox::currentIndexChanged, this, [this] { ApplyEnablingRules(); });
  // The bounds are kept once the field is left (or "Ok" clicked), so that
  // a field can be cleared and typed anew without a value put in between.
  for (QLineEdit* field : ClampedFields()) {
    connect(field, &QLineEdit::editingFinished, this, [this, field] { KeepBounds(field); });
  }
  for (QLineEdit* field : lightTimes_) {
    connect(field, &QLineEdit::textChanged, this, [this, field] { CheckThreshold(field); });
  }
  connect(toName_, &QPushButton::clicked, this, &HostForm::LookUpName);
  connect(toIP_, &QPushButton::clicked, this, &HostForm::LookUpAddress);
  ConnectAlarmPage(renewal_);
  ConnectAlarmPage(loss_);
  connect(ok_, &QPushButton::clicked, this, &HostForm::OkClicked);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(help_, &QPushButton::clicked, this, &HostForm::Help);
}

void HostForm::ConnectAlarmPage(AlarmPage& p) {
  for (QCheckBox* box : {p.master, p.playWav, p.sendLan, p.sendEmail, p.runPrg}) {
    connect(box, &QCheckBox::toggled, this, [this] { ApplyEnablingRules(); });
  }
  AlarmPage* page = &p;
  connect(p.wavTest, &QPushButton::clicked, this, [this, page] { TestWav(*page); });
  connect(p.lanTest, &QPushButton::clicked, this, [this, page] { TestLan(*page); });
  connect(p.emailTest, &QPushButton::clicked, this, [this, page] { TestEmail(*page); });
  connect(p.wavBrowse, &QPushButton::clicked, this, [this, page] { ChooseWav(*page); });
  connect(p.programBrowse, &QPushButton::clicked, this, [this, page] { ChooseProgram(*page); });
}

bool HostForm::EditHost(HostEntry& host) {
  if (isVisible()) return false;
  SetParentChoices(services_.hosts ? ParentChoicesFor(*services_.hosts->Snapshot(), host)
                                   : std::vector<ParentChoice>{});
  Fill(FormValuesOf(ReadHostSettings(host), SubjectPlaceholder()));
  if (exec() != QDialog::Accepted) return false;
  WriteHostSettings(confirmed_, host);
  return true;
}

void HostForm::Fill(const HostFormValues& v) {
  // The checks while typing stay quiet while the fields are filled: a new
  // host's day 0 or a threshold equal to the time-out is the user's to fix.
  filling_ = true;
  filled_ = v;
  hostIP_->setText(Q(v.hostIP));
  hostName_->setText(Q(v.hostName));
  hostDesc_->setText(Q(v.hostDesc));
  retries_->setText(Q(v.retries));
  timeOut_->setText(Q(v.timeOut));
  pbs_->setText(Q(v.pbs));
  pttl_->setText(Q(v.pttl));
  ptos_->setText(Q(v.ptos));
  pingBy_->setCurrentIndex(v.pingByAddress ? 0 : 1);
  ipFamily_->setCurrentIndex(v.addressFamily);
  traceTimeOut_->setText(Q(v.traceTimeOut));
  traceBufferSize_->setText(Q(v.traceBufferSize));
  traceTTL_->setText(Q(v.traceTTL));
  maxNumHops_->setText(Q(v.maxNumHops));
  useAsDefault_->setChecked(v.useAsDefault);
  int parentItem = parent_->findData(Q(v.parent));
  if (parentItem < 0) {
    // A parent the list does not hold (any more) stays as it was, shown as written.
    parent_->addItem(Q(v.parent), Q(v.parent));
    parentItem = parent_->count() - 1;
  }
  parent_->setCurrentIndex(parentItem);
  checkEvery_->setCurrentIndex(v.checkEvery >= 0 && v.checkEvery < checkEvery_->count()
                                   ? v.checkEvery
                                   : -1);
  day_->setText(Q(v.dayOfMonth));
  for (std::size_t i = 0; i < days_.size(); ++i) days_[i]->setChecked((v.daysOfWeek >> i) & 1);
  for (int slot = 0; slot < times_->count(); ++slot) {
    times_->item(slot)->setCheckState((v.times >> slot) & 1 ? Qt::Checked : Qt::Unchecked);
  }
  pingInterval_->setText(Q(v.pingInterval));
  FillAlarm(renewal_, v.renewal);
  FillAlarm(loss_, v.loss);
  for (std::size_t i = 0; i < lightTimes_.size(); ++i) lightTimes_[i]->setText(Q(v.lightTimes[i]));
  degradedLatency_->setText(Q(v.degradedLatency));
  degradedLoss_->setText(Q(v.degradedLoss));
  degradedChecks_->setText(Q(v.degradedChecks));
  FillNotifyList(*degradedTargets_, TargetNamesNow(), v.degradedTargets);
  filling_ = false;
  ApplyEnablingRules();
}

std::vector<std::string> HostForm::TargetNamesNow() const {
  return services_.targetNames ? services_.targetNames() : std::vector<std::string>{};
}

void HostForm::SetParentChoices(const std::vector<ParentChoice>& choices) {
  while (parent_->count() > 1) parent_->removeItem(1);
  for (const ParentChoice& choice : choices) parent_->addItem(Q(choice.label), Q(choice.key));
}

void HostForm::FillAlarm(AlarmPage& p, const AlarmFormValues& v) {
  p.master->setChecked(v.alarm);
  p.repeatCount->setText(Q(v.repeatCount));
  p.showBox->setChecked(v.showBox);
  p.playWav->setChecked(v.playWav);
  p.wavFile->setText(Q(v.wavFile));
  p.sendLan->setChecked(v.sendLan);
  p.lanName->setText(Q(v.lanName));
  p.sendEmail->setChecked(v.sendEmail);
  p.emailAddress->setText(Q(v.emailAddress));
  p.runPrg->setChecked(v.runPrg);
  p.programName->setText(Q(v.programName));
  p.params->setText(Q(v.params));
  p.runTraceRoute->setChecked(v.runTraceRoute);
  FillNotifyList(*p.notify, TargetNamesNow(), v.targets);
  p.subject->setText(Q(v.subject));
  p.subject->setCursorPosition(0);
  p.body->setPlainText(Q(WithLfBreaks(v.body)));
}

HostFormValues HostForm::Values() const {
  HostFormValues v;
  v.hostIP = Kept(hostIP_->text(), filled_.hostIP);
  v.hostName = Kept(hostName_->text(), filled_.hostName);
  v.hostDesc = Kept(hostDesc_->text(), filled_.hostDesc);
  v.retries = Kept(retries_->text(), filled_.retries);
  v.timeOut = Kept(timeOut_->text(), filled_.timeOut);
  v.pbs = Kept(pbs_->text(), filled_.pbs);
  v.pttl = Kept(pttl_->text(), filled_.pttl);
  v.ptos = Kept(ptos_->text(), filled_.ptos);
  v.pingByAddress = pingBy_->currentIndex() == 0;
  v.addressFamily = ipFamily_->currentIndex();
  v.traceTimeOut = Kept(traceTimeOut_->text(), filled_.traceTimeOut);
  v.traceBufferSize = Kept(traceBufferSize_->text(), filled_.traceBufferSize);
  v.traceTTL = Kept(traceTTL_->text(), filled_.traceTTL);
  v.maxNumHops = Kept(maxNumHops_->text(), filled_.maxNumHops);
  v.useAsDefault = useAsDefault_->isChecked();
  v.parent = parent_->currentData().toString().toStdString();
  // A stored schedule kind that is no item stays as it was until the user
  // picks one.
  v.checkEvery = checkEvery_->currentIndex() >= 0 ? checkEvery_->currentIndex() : filled_.checkEvery;
  v.dayOfMonth = Kept(day_->text(), filled_.dayOfMonth);
  for (std::size_t i = 0; i < days_.size(); ++i) {
    if (days_[i]->isChecked()) v.daysOfWeek |= 1 << i;
  }
  for (int slot = 0; slot < times_->count(); ++slot) {
    if (times_->item(slot)->checkState() == Qt::Checked) v.times |= uint64_t{1} << slot;
  }
  v.pingInterval = Kept(pingInterval_->text(), filled_.pingInterval);
  v.renewal = AlarmValues(renewal_, filled_.renewal);
  v.loss = AlarmValues(loss_, filled_.loss);
  for (std::size_t i = 0; i < lightTimes_.size(); ++i) {
    v.lightTimes[i] = Kept(lightTimes_[i]->text(), filled_.lightTimes[i]);
  }
  v.degradedLatency = Kept(degradedLatency_->text(), filled_.degradedLatency);
  v.degradedLoss = Kept(degradedLoss_->text(), filled_.degradedLoss);
  v.degradedChecks = Kept(degradedChecks_->text(), filled_.degradedChecks);
  v.degradedTargets = TickedNotifyItems(*degradedTargets_, filled_.degradedTargets);
  return v;
}

AlarmFormValues HostForm::AlarmValues(const AlarmPage& p, const AlarmFormValues& filled) const {
  AlarmFormValues v;
  v.alarm = p.master->isChecked();
  v.repeatCount = Kept(p.repeatCount->text(), filled.repeatCount);
  v.showBox = p.showBox->isChecked();
  v.playWav = p.playWav->isChecked();
  v.wavFile = Kept(p.wavFile->text(), filled.wavFile);
  v.sendLan = p.sendLan->isChecked();
  v.lanName = Kept(p.lanName->text(), filled.lanName);
  v.sendEmail = p.sendEmail->isChecked();
  v.emailAddress = Kept(p.emailAddress->text(), filled.emailAddress);
  v.runPrg = p.runPrg->isChecked();
  v.programName = Kept(p.programName->text(), filled.programName);
  v.params = Kept(p.params->text(), filled.params);
  v.runTraceRoute = p.runTraceRoute->isChecked();
  v.targets = TickedNotifyItems(*p.notify, filled.targets);
  v.subject = Kept(p.subject->text(), filled.subject);
  v.body = KeptMemo(p.body->toPlainText(), filled.body);
  return v;
}

void HostForm::ApplyEnablingRules() {
  if (filling_) return;
  const ScheduleEnabling schedule = ScheduleEnablingFor(
      checkEvery_->currentIndex() >= 0 ? checkEvery_->currentIndex() : filled_.checkEvery);
  pingIntervalLabel_->setEnabled(schedule.pingInterval);
  pingInterval_->setEnabled(schedule.pingInterval);
  dayLabel_->setEnabled(schedule.dayOfMonth);
  day_->setEnabled(schedule.dayOfMonth);
  for (QCheckBox* box : days_) box->setEnabled(schedule.daysOfWeek);
  timeLabel_->setEnabled(schedule.times);
  times_->setEnabled(schedule.times);
  ApplyAlarmEnabling(renewal_, AlarmEnablingFor(AlarmValues(renewal_, filled_.renewal)));
  ApplyAlarmEnabling(loss_, AlarmEnablingFor(AlarmValues(loss_, filled_.loss)));
}

void HostForm::ApplyAlarmEnabling(AlarmPage& p, const AlarmEnabling& e) {
  for (QWidget* w : std::initializer_list<QWidget*>{p.repeatCount, p.showBox, p.playWav, p.sendLan,
                                                    p.sendEmail, p.runPrg, p.runTraceRoute,
                                                    p.notifyLabel, p.notify}) {
    w->setEnabled(e.options);
  }
  using Widgets = std::initializer_list<QWidget*>;
  for (QWidget* w : Widgets{p.wavFile, p.wavBrowse, p.wavTest}) w->setEnabled(e.wav);
  for (QWidget* w : Widgets{p.lanName, p.lanTest}) w->setEnabled(e.lan);
  for (QWidget* w : Widgets{p.emailAddress, p.emailTest}) w->setEnabled(e.email);
  for (QWidget* w : Widgets{p.programName, p.programBrowse, p.paramsLabel, p.params}) {
    w->setEnabled(e.program);
  }
}

void HostForm::showEvent(QShowEvent* event) {
  ApplyEnablingRules();
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    FitToContents(*this);
    adjustPosition(parentWidget());
  }
}

void HostForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter acts on the button that has the focus, and on nothing else.
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled())
      button->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

std::string HostForm::Text(std::string_view key) const {
  return HostFormText(language_ ? &*language_ : nullptr, key);
}

std::string HostForm::SubjectPlaceholder() const { return Text("DefaultSubject"); }

void HostForm::OkClicked() {
  for (QLineEdit* field : ClampedFields()) KeepBounds(field);
  AcceptNameAlone();
  const HostFormValues values = Values();
  const std::string report = OkCheckReport(values, language_ ? &*language_ : nullptr);
  if (!report.empty()) {
    ShowError(report);
    return;
  }
  // A name newly typed that has no address now is kept (it is looked up
  // before every check), with a word to the user.
  if (!values.pingByAddress && values.hostName != filled_.hostName &&
      CheckHostAddress(values.hostName).kind == HostAddressKind::Name &&
      IsNoAddress(services_.lookups.resolve(values.hostName,
                                           AddressFamilyOf(AddressFamilyOfItem(values.addressFamily)))))
    desktop_.ShowMessage(values.hostName + ": " + Text("DoesNotResolveNow"), Text("ErrorCaption"),
                         MessageIcon::Warning);
  confirmed_ = SettingsFromForm(values, SubjectPlaceholder());
  accept();
}

void HostForm::AcceptNameAlone() {
  // A host given by a name alone is checked by that name, when the name
  // resolves: the address field then shows what it resolved to.
  if (pingBy_->currentIndex() != 0 || !TrimBlanks(hostIP_->text().toStdString()).empty() ||
      TrimBlanks(hostName_->text().toStdString()).empty())
    return;
  std::optional<std::string> address;
  {
    WaitCursor wait;
    address = LookUpHostAddress(Kept(hostName_->text(), filled_.hostName),
                                AddressFamilyOf(AddressFamilyOfItem(ipFamily_->currentIndex())),
                                services_.lookups);
  }
  if (!address) return;
  pingBy_->setCurrentIndex(1);
  hostIP_->setText(Q(*address));
}

void HostForm::ShowError(std::string_view message) {
  desktop_.ShowMessage(ErrorBoxText(message, language_ ? &*language_ : nullptr),
                       Text("ErrorCaption"), MessageIcon::Error);
}

std::array<QLineEdit*, 5> HostForm::ClampedFields() const {
  return {day_, traceBufferSize_, traceTTL_, renewal_.repeatCount, loss_.repeatCount};
}

void HostForm::KeepBounds(QLineEdit* field) {
  // A text the user has not typed in since it was filled stays as stored.
  if (filling_ || !field->isModified()) return;
  const std::string text = field->text().toStdString();
  std::optional<std::string> kept;
  if (field == day_) {
    kept = KeptWithin(text, kFirstDay, kLastDay);
  } else if (field == traceBufferSize_ || field == traceTTL_) {
    kept = KeptWithin(text, 1, 255);
  } else {
    kept = RepeatCountFix(text);
  }
  if (kept) {
    field->setText(Q(*kept));
    desktop_.Beep();
  }
}

void HostForm::CheckThreshold(QLineEdit* field) {
  if (filling_) return;
  if (ThresholdTooHigh(field->text().toStdString(), timeOut_->text().toStdString())) {
    ShowError(Text("ThresholdTooHigh"));
    // The value stays as typed; the field is where the user goes on.
    field->setFocus();
  }
}

void HostForm::LookUpName() {
  std::optional<std::string> name;
  {
    WaitCursor wait;
    name = LookUpHostName(Kept(hostIP_->text(), filled_.hostIP), services_.lookups);
  }
  if (name) {
    hostName_->setText(Q(*name));
  } else {
    ShowError(Text("NoHostName"));
  }
}

void HostForm::LookUpAddress() {
  std::optional<std::string> address;
  {
    WaitCursor wait;
    address = LookUpHostAddress(Kept(hostName_->text(), filled_.hostName),
                                AddressFamilyOf(AddressFamilyOfItem(ipFamily_->currentIndex())),
                                services_.lookups);
  }
  if (address) {
    hostIP_->setText(Q(*address));
  } else {
    ShowError(Text("NoHostAddress"));
  }
}

void HostForm::TestWav(const AlarmPage& p) {
  const AlarmFormValues v = AlarmValues(p, &p == &renewal_ ? filled_.renewal : filled_.loss);
  desktop_.PlaySound(v.wavFile, false);
}

void HostForm::TestLan(const AlarmPage& p) {
  const AlarmFormValues v = AlarmValues(p, &p == &renewal_ ? filled_.renewal : filled_.loss);
  if (v.lanName.empty()) return;
  channels_.SendNetMessage(v.lanName, std::string(kTestBody), std::string(kLanTestSubject));
}

void HostForm::TestEmail(const AlarmPage& p) {
  const AlarmFormValues v = AlarmValues(p, &p == &renewal_ ? filled_.renewal : filled_.loss);
  if (const auto refusal =
          MailTestRefusal(options_.Port, v.emailAddress, language_ ? &*language_ : nullptr)) {
    desktop_.ShowMessage(*refusal, Text("MailTestCaption"), MessageIcon::Error);
    return;
  }
  MailResult result;
  {
    WaitCursor wait;
    result = channels_.TestMail(options_, v.emailAddress, std::string(kTestBody),
                                std::string(kMailTestSubject));
  }
  desktop_.ShowMessage(MailTestReport(result, language_), kApplicationTitle,
                       result.Accepted() ? MessageIcon::Information : MessageIcon::Error);
}

void HostForm::ChooseWav(AlarmPage& p) {
  FileChooserRequest request;
  request.title = Q(Text("SelectWAV"));
  request.filters = {Q(Text("WAVFiles")) + " (*.wav)", Q(Text("AllFiles")) + " (*)"};
  request.selectedFilter = request.filters.front();
  request.defaultSuffix = "wav";
  ChooseInto(p.wavFile, std::move(request));
}

void HostForm::ChooseProgram(AlarmPage& p) {
  FileChooserRequest request;
  request.title = Q(Text("SelectProgram"));
  request.filters = {Q(Text("ExeFiles")) + " (*.exe)", Q(Text("AllFiles")) + " (*)"};
  // Programs here carry no extension: the list starts with every file.
  request.selectedFilter = request.filters.back();
  ChooseInto(p.programName, std::move(request));
}

void HostForm::ChooseInto(QLineEdit* field, FileChooserRequest request) {
  request.start = Q(ChooserStart(field->text().toStdString(), services_.programFolder));
  const QString chosen = services_.chooseFile(this, request);
  if (!chosen.isEmpty()) field->setText(chosen);
}

void HostForm::Help() { desktop_.ShowHelp(15, HelpContextOfPage(tabs_->currentIndex())); }

bool HostForm::SetCaption(std::string_view section, std::string_view key, const QString& text) {
  for (const CaptionRead& read : HostCaptions()) {
    if (EqualsIgnoringCase(read.section, section) && EqualsIgnoringCase(read.caption->key, key)) {
      ShowCaption(*read.caption, text);
      UpdateAccessibleNames();
      return true;
    }
  }
  return false;
}

void HostForm::ApplyLanguage(const std::optional<IniFile>& file) {
  // A subject left at the old language's placeholder takes the new one.
  const std::string oldPlaceholder = SubjectPlaceholder();
  language_ = file;
  for (AlarmPage* p : {&renewal_, &loss_}) {
    if (p->subject->text() == Q(oldPlaceholder)) p->subject->setText(Q(SubjectPlaceholder()));
  }
  for (const CaptionRead& read : HostCaptions()) {
    ShowCaption(*read.caption,
                QString::fromStdString(CaptionText(file, read.section, read.caption->key)));
  }
  // The names for screen readers are made from the captions: once, when
  // all of them are in place.
  UpdateAccessibleNames();
}

void HostForm::ShowCaption(const Caption& caption, const QString& text) {
  if (caption.list == CaptionList::kCheckEvery) {
    checkEvery_->setItemText(caption.item, text);
  } else if (caption.list == CaptionList::kPingBy) {
    pingBy_->setItemText(caption.item, text);
  } else if (caption.list == CaptionList::kIPFamily) {
    ipFamily_->setItemText(caption.item, text);
  } else if (caption.key == kWindowTitleKey) {
    setWindowTitle(text);
  } else if (EqualsIgnoringCase(caption.key, "NoParent")) {
    parent_->setItemText(0, text);
  } else if (const int page = PageOf(caption.key); page >= 0) {
    tabs_->setTabText(page, text);
    // The template groups take the captions of the two alarm pages.
    if (page == 2) renewal_.templateBox->setTitle(text);
    if (page == 3) loss_.templateBox->setTitle(text);
  } else {
    for (QWidget* widget : findChildren<QWidget*>()) {
      if (EqualsIgnoringCase(caption.key, widget->objectName().toStdString())) {
        SetWidgetCaption(*widget, text);
      }
    }
    if (EqualsIgnoringCase(caption.key, "TimeOut")) traceTimeOutLabel_->setText(text);
  }
}

void HostForm::UpdateAccessibleNames() {
  // Fields are named by their labels, the buttons that act on a field by
  // their caption and that field's check box.
  for (QLabel* label : findChildren<QLabel*>()) {
    if (label->buddy()) label->buddy()->setAccessibleName(Plain(label->text()));
  }
  for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
    button->setAccessibleName(Plain(CaptionOf(button)));
  }
  // The two alarm pages and the two template groups have the same captions:
  // the page or group tells them apart.
  for (AlarmPage* p : {&renewal_, &loss_}) {
    const QString page = Plain(tabs_->tabText(p == &renewal_ ? 2 : 3));
    const auto named = [&page](QWidget* w, const QString& what) {
      w->setAccessibleName(what + " (" + page + ")");
    };
    named(p->master, Plain(p->master->text()));
    named(p->repeatCount, Plain(p->countsLabel->text()));
    named(p->wavFile, Plain(p->playWav->text()));
    named(p->wavBrowse, Plain(p->playWav->text()) + " ...");
    named(p->wavTest, Plain(p->wavTest->text()) + ": " + Plain(p->playWav->text()));
    named(p->lanName, Plain(p->sendLan->text()));
    named(p->lanTest, Plain(p->lanTest->text()) + ": " + Plain(p->sendLan->text()));
    named(p->emailAddress, Plain(p->sendEmail->text()));
    named(p->emailTest, Plain(p->emailTest->text()) + ": " + Plain(p->sendEmail->text()));
    named(p->programName, Plain(p->runPrg->text()));
    named(p->programBrowse, Plain(p->runPrg->text()) + " ...");
    named(p->params, Plain(p->paramsLabel->text()));
    named(p->notify, Plain(p->notifyLabel->text()));
    for (QCheckBox* box : {p->showBox, p->playWav, p->sendLan, p->sendEmail, p->runPrg,
                           p->runTraceRoute}) {
      named(box, Plain(box->text()));
    }
    const QString group = Plain(p->templateBox->title());
    for (QLabel* label : p->templateBox->findChildren<QLabel*>()) {
      if (label->buddy()) label->buddy()->setAccessibleName(Plain(label->text()) + " (" + group + ")");
    }
  }
  // The degradation fields say their unit too: "0 = off" matters.
  for (auto [field, unit] : {std::pair{degradedLatency_, degradedLatencyUnit_},
                             std::pair{degradedLoss_, degradedLossUnit_},
                             std::pair{degradedChecks_, degradedChecksUnit_}}) {
    field->setAccessibleName(field->accessibleName() + " " + Plain(unit->text()));
  }
  const QString lightPage = Plain(tabs_->tabText(5));
  for (std::size_t i = 0; i < lightTimes_.size(); ++i) {
    lightTimes_[i]->setAccessibleName(QString("%1 %2: %3 %4")
                                          .arg(lightPage)
                                          .arg(i + 1)
                                          .arg(Plain(timeStr_[i]->text()), Plain(msStr_[i]->text())));
  }
}

QString ChooseFileWithDialog(QWidget* owner, const FileChooserRequest& request) {
  QFileDialog dialog(owner, request.title);
  dialog.setObjectName("FileChooser");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters(request.filters);
  if (!request.selectedFilter.isEmpty()) dialog.selectNameFilter(request.selectedFilter);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  const QFileInfo start(request.start);
  // A file whose folder has gone starts in the nearest folder that is left.
  QString folder = start.isDir() ? start.absoluteFilePath() : start.absolutePath();
  while (!QFileInfo(folder).isDir() && QFileInfo(folder).absolutePath() != folder) {
    folder = QFileInfo(folder).absolutePath();
  }
  dialog.setDirectory(folder);
  if (!start.isDir()) dialog.selectFile(start.fileName());
  FitFileChooser(dialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace sentrel
