#include "gui/history_window.h"

#include <algorithm>
#include <unordered_map>

#include <QButtonGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QKeyEvent>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/alarm.h"
#include "core/host_entry.h"
#include "gui/dialogs/dialog_fit.h"
#include "gui/history_graph.h"
#include "gui/language_captions.h"
#include "history/history_csv.h"
#include "history/history_reader.h"
#include "history/history_text.h"
#include "history/history_time.h"
#include "platform/atomic_file.h"
#include "settings/language_table.h"

namespace sentrel {

namespace {

constexpr std::array<int32_t, 4> kBuiltInLightTimes{kDefaultLightTimes[0], kDefaultLightTimes[1],
                                                    kDefaultLightTimes[2], kDefaultLightTimes[3]};
// Each figure by the name that FigureText takes, with the language key of
// its caption.
struct FigureName {
  const char* name;
  const char* captionKey;
};
constexpr FigureName kFigureNames[] = {
    {"Availability", "AvailabilityLabel"}, {"Loss", "LossLabel"},       {"Average", "AverageLabel"},
    {"Jitter", "JitterLabel"},             {"Range", "RangeLabel"},     {"Outages", "OutagesLabel"},
    {"Outage time", "OutageTimeLabel"},    {"Monitored", "MonitoredLabel"},
};

QString Number(std::optional<double> value, const char* suffix, int decimals = 1) {
  if (!value) return "-";
  return QString::number(*value, 'f', decimals) + suffix;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The file name the export proposes: the host and the period, nothing a
// file system could object to.
QString ExportName(const HistoryHost& host, HistoryPeriod period) {
  QString name = Text(HostText(host));
  for (QChar& c : name) {
    if (!c.isLetterOrNumber() && c != '.' && c != '-') c = '_';
  }
  return "history-" + name + "-" + QString(PeriodName(period)).toLower() + ".csv";
}

}  // namespace

HistoryWindow::HistoryWindow(HistoryWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window),
      services_(std::move(services)),
      chooser_(new QComboBox(this)),
      periods_(new QButtonGroup(this)),
      graph_(new HistoryGraph(this)),
      outages_(new QTableWidget(0, 6, this)),
      trace_(new QPlainTextEdit(this)),
      state_(new QLabel(this)) {
  setObjectName("HistoryForm");
  setWindowTitle("History");
  resize(820, 640);

  chooser_->setObjectName("HistoryHost");
  chooser_->setAccessibleName("Host");
  chooser_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  connect(chooser_, &QComboBox::activated, this, [this](int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < hosts_.size()) ShowHost(hosts_[index]);
  });
  auto* top = new QHBoxLayout;
  auto* hostLabel = new QLabel(this);
  hostLabel->setObjectName("HostLabel");
  hostLabel->setBuddy(chooser_);
  top->addWidget(hostLabel);
  top->addWidget(chooser_, 1);
  for (const HistoryPeriod period :
       {HistoryPeriod::Hour, HistoryPeriod::Day, HistoryPeriod::Week, HistoryPeriod::Month}) {
    auto* button = new QPushButton(this);
    button->setObjectName(QString("Period") + PeriodName(period));
    button->setCheckable(true);
    button->setChecked(period == period_);
    periods_->addButton(button, static_cast<int>(period));
    top->addWidget(button);
  }
  connect(periods_, &QButtonGroup::idClicked, this,
          [this](int id) { SetPeriod(static_cast<HistoryPeriod>(id)); });

  auto* figures = new QGridLayout;
  int column = 0;
  for (const auto& [name, captionKey] : kFigureNames) {
    auto* caption = new QLabel(this);
    caption->setObjectName(captionKey);
    auto* value = new QLabel("-", this);
    value->setObjectName(QString("Figure") + QString(name).remove(' '));
    value->setAccessibleName(name);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (QString(name) == "Monitored") {
      // A row of its own: its words are the longest, in every language.
      figures->addWidget(caption, 2, 0);
      figures->addWidget(value, 2, 1, 1, 7);
    } else {
      figures->addWidget(caption, column % 2, column / 2 * 2);
      figures->addWidget(value, column % 2, column / 2 * 2 + 1);
    }
    figures_[name] = value;
    ++column;
  }
  figures->setColumnStretch(7, 1);

  outages_->setObjectName("OutageTable");
  outages_->setAccessibleName("Outages");
  outages_->verticalHeader()->hide();
  outages_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  outages_->setSelectionBehavior(QAbstractItemView::SelectRows);
  outages_->setSelectionMode(QAbstractItemView::SingleSelection);
  outages_->horizontalHeader()->setStretchLastSection(true);
  connect(outages_, &QTableWidget::itemSelectionChanged, this, [this] { ShowTrace(); });
  trace_->setObjectName("TraceText");
  trace_->setAccessibleName("Trace of the outage");
  trace_->setReadOnly(true);

  auto* lower = new QSplitter(Qt::Horizontal, this);
  lower->addWidget(outages_);
  lower->addWidget(trace_);
  lower->setStretchFactor(0, 3);
  lower->setStretchFactor(1, 2);
  auto* split = new QSplitter(Qt::Vertical, this);
  split->setObjectName("HistorySplitter");
  split->addWidget(graph_);
  split->addWidget(lower);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);

  auto* exportButton = new QPushButton(this);
  exportButton->setObjectName("ExportBtn");
  connect(exportButton, &QPushButton::clicked, this, [this] { ChooseExport(); });
  auto* closeButton = new QPushButton(this);
  closeButton->setObjectName("CloseBtn");
  connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
  state_->setObjectName("HistoryState");
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(state_, 1);
  bottom->addWidget(exportButton);
  bottom->addWidget(closeButton);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(split, 1);
  layout->addLayout(figures);
  layout->addLayout(bottom);

  // The hour and day views move on while the window is open.
  refresh_.setInterval(60 * 1000);
  connect(&refresh_, &QTimer::timeout, this, [this] {
    if (isVisible()) Reload();
  });
  refresh_.start();
  ApplyLanguage(std::nullopt);
}

void HistoryWindow::keyPressEvent(QKeyEvent* event) {
  // Escape closes it, as it closes the dialogs.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void HistoryWindow::ApplyLanguage(const std::optional<IniFile>& file) {
  language_ = file;
  ApplyCaptionsByName(*this, LanguageWindow::kHistoryForm, language_);
  outages_->setHorizontalHeaderLabels({Caption("StartColumn"), Caption("EndColumn"),
                                       Caption("DurationColumn"), Caption("StatusColumn"),
                                       Caption("TraceColumn"), Caption("NotifiedColumn")});
  trace_->setPlaceholderText(Caption("TraceHint"));
  graph_->SetEmptyText(Caption("NoHistory"));
  if (isVisible()) Reload();
}

QString HistoryWindow::Caption(const char* key) const {
  return Text(CaptionText(language_, kHistoryFormSection, key));
}

QString HistoryWindow::StatusText(uint32_t status) const {
  // The number stays as the log writes it; its words are the language's.
  // An IPv6 host's codes name the ICMPv6 error behind them.
  std::string key = "Status" + std::to_string(status);
  if (host_ && IsIpv6Host(*host_)) {
    if (const auto words = Ipv6StatusWords(status)) key = std::string(words->key);
  }
  const std::string words = CaptionText(language_, kHistoryFormSection, key);
  return words.empty() ? Text(StatusName(status)) : QString::number(status) + " " + Text(words);
}

QString HistoryWindow::OpenFailure(const std::string& error) const {
  // Nothing recorded yet is the usual case of a fresh start; only a file
  // that is there and unreadable needs the reader's technical reason.
  if (!HistoryReader::Recorded(services_.databasePath))
    return Caption("NoRecordsYet").replace("%1", Text(services_.databasePath));
  return Caption("HistoryUnreadable") + " " + Text(error);
}

void HistoryWindow::ShowHost(const std::optional<HistoryHost>& host) {
  host_ = host;
  Reload();
}

void HistoryWindow::SetPeriod(HistoryPeriod period) {
  period_ = period;
  if (QAbstractButton* button = periods_->button(static_cast<int>(period))) button->setChecked(true);
  Reload();
}

void HistoryWindow::Reload() {
  HistoryReader reader;
  std::string error;
  const bool open = reader.Open(services_.databasePath, &error);
  hosts_.clear();
  if (open) {
    for (const StoredHost& stored : reader.Hosts()) hosts_.push_back(stored.host);
  }
  if (!host_ && !hosts_.empty()) host_ = hosts_.front();

  std::unordered_map<HistoryHost, std::array<int32_t, 4>, HistoryHostHash> listed;
  if (services_.listedHosts) {
    for (const ListedHost& entry : services_.listedHosts()) listed.emplace(entry.host, entry.lightTimes);
  }
  chooser_->clear();
  int current = -1;
  for (std::size_t i = 0; i < hosts_.size(); ++i) {
    QString label = Text(HostText(hosts_[i]));
    if (services_.listedHosts && listed.count(hosts_[i]) == 0) label += "  " + Caption("NotInList");
    chooser_->addItem(label);
    if (host_ && hosts_[i] == *host_) current = static_cast<int>(i);
  }
  if (host_ && current < 0) {
    // A host on the list with nothing recorded yet.
    chooser_->addItem(Text(HostText(*host_)));
    current = chooser_->count() - 1;
  }
  chooser_->setCurrentIndex(current);
  setWindowTitle(host_ ? Caption("HistoryForm") + " - " + Text(HostText(*host_)) : Caption("HistoryForm"));

  const DateTime now = services_.clock.Now();
  const PeriodSpan span = SpanOf(period_, now);
  GraphData graph;
  graph.fromMinute = span.fromMinute;
  graph.toMinute = span.toMinute;
  graph.lightTimes = kBuiltInLightTimes;
  if (host_) {
    if (const auto it = listed.find(*host_); it != listed.end()) graph.lightTimes = it->second;
  }
  const int64_t id = open && host_ ? reader.FindHost(*host_).value_or(0) : 0;
  PeriodHistory shown = ReadPeriod(reader, id, span, now);
  state_->setText(!open      ? OpenFailure(error)
                  : id == 0  ? Caption("NothingRecorded")
                             : QString());
  ShowFigures(shown.figures);
  ShowOutages(shown.outages, shown.toSecond);
  graph.buckets = std::move(shown.buckets);
  graph.unwatched = std::move(shown.unmonitored);
  graph.degraded = std::move(shown.degraded);
  graph.unwatched.push_back({shown.toSecond, span.toMinute * 60});  // still to come
  graph_->SetData(std::move(graph));
}

void HistoryWindow::ShowFigures(const PeriodFigures& f) {
  const TrafficStats& t = f.traffic;
  figures_["Availability"]->setText(Number(f.availability, " %", 2));
  // Replaced rather than QString::arg: a translation may leave a number out.
  figures_["Loss"]->setText(t.sent > 0 ? Number(t.LossPercent(), " %", 2) + " " +
                                             Caption("LossCount")
                                                 .replace("%1", QString::number(t.sent - t.received))
                                                 .replace("%2", QString::number(t.sent))
                                       : QString("-"));
  figures_["Average"]->setText(Number(t.AverageRttMs(), " ms"));
  figures_["Jitter"]->setText(Number(t.JitterMs(), " ms"));
  figures_["Range"]->setText(t.received > 0 ? QString("%1 - %2 ms")
                                                  .arg(static_cast<qlonglong>(t.RttMinMs()))
                                                  .arg(static_cast<qlonglong>(t.RttMaxMs()))
                                            : QString("-"));
  figures_["Outages"]->setText(QString::number(f.outages));
  figures_["Outage time"]->setText(Text(DurationText(static_cast<double>(f.outageSeconds))));
  // The time the figures stand on, and what they leave out, as --history says.
  QString monitored = Caption("MonitoredOf")
                          .replace("%1", Text(DurationText(static_cast<double>(f.monitoredSeconds))))
                          .replace("%2", Text(DurationText(static_cast<double>(
                                             f.monitoredSeconds + f.unmonitoredSeconds))));
  if (f.unmonitoredSeconds > 0) {
    monitored += " " + Caption("NotMonitored")
                           .replace("%1", Text(DurationText(static_cast<double>(f.unmonitoredSeconds))));
  }
  figures_["Monitored"]->setText(monitored);
}

void HistoryWindow::ShowOutages(const std::vector<OutageRow>& outages, int64_t now) {
  // The minute's refresh keeps the outage the operator is reading.
  std::optional<int64_t> selectedStart;
  if (const OutageRow* selected = SelectedOutage()) selectedStart = selected->start;
  shownOutages_ = outages;
  const OutageEndWords endWords{Caption("GoingOn").toStdString(), Caption("NoChecksSince").toStdString()};
  outages_->setRowCount(0);
  // The newest first: the question is usually about the last one.
  for (auto it = outages.rbegin(); it != outages.rend(); ++it) {
    const OutageRow& o = *it;
    const int row = outages_->rowCount();
    outages_->insertRow(row);
    const double seconds = static_cast<double>(o.EffectiveEnd() - o.start);
    QString duration = Text(DurationText(seconds));
    // One going on has its true length so far; one whose host is no longer
    // checked lasted at least until the last check.
    if (!o.end && !OutageGoesOn(o, now)) duration = Caption("AtLeast").replace("%1", duration);
    // Said in words: a bare mark would leave the reader guessing.
    if (o.interrupted) duration += " " + Caption("InterruptedMark");
    // The trace itself shows beside the table; here only whether there is one.
    const auto hops = std::count(o.trace.begin(), o.trace.end(), '\n') - 1;
    const QString trace = o.trace.empty() ? QString() : QString::number(std::max<long>(hops, 0));
    const QString cells[6] = {Text(SecondText(o.start)), Text(OutageEndText(o, now, endWords)), duration,
                              StatusText(o.status), trace, Text(o.notified)};
    for (int c = 0; c < 6; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (o.interrupted && c == 2)
        item->setToolTip(Caption("Interrupted"));
      outages_->setItem(row, c, item);
    }
  }
  outages_->resizeColumnsToContents();
  trace_->clear();
  for (std::size_t i = 0; selectedStart && i < outages.size(); ++i) {
    if (outages[i].start == *selectedStart) outages_->selectRow(static_cast<int>(outages.size() - 1 - i));
  }
}

const OutageRow* HistoryWindow::SelectedOutage() const {
  const QList<QTableWidgetItem*> selected = outages_->selectedItems();
  if (selected.isEmpty()) return nullptr;
  // The table shows the newest first.
  const auto index = shownOutages_.size() - 1 - static_cast<std::size_t>(selected.first()->row());
  return index < shownOutages_.size() ? &shownOutages_[index] : nullptr;
}

void HistoryWindow::ShowTrace() {
  if (const OutageRow* selected = SelectedOutage()) {
    trace_->setPlainText(Text(selected->trace));
  } else {
    trace_->clear();
  }
}

QString HistoryWindow::FigureText(const QString& name) const {
  const auto it = figures_.find(name);
  return it == figures_.end() ? QString() : it->second->text();
}

bool HistoryWindow::ExportCsv(const std::string& path, std::string* error) const {
  HistoryReader reader;
  std::string reason;
  if (!host_ || !reader.Open(services_.databasePath, &reason)) {
    if (error) *error = host_ ? OpenFailure(reason).toStdString() : "no host chosen";
    return false;
  }
  const std::optional<int64_t> id = reader.FindHost(*host_);
  const PeriodSpan span = SpanOf(period_, services_.clock.Now());
  const int bucket = period_ == HistoryPeriod::Month ? 60 : 1;
  const std::vector<Bucket> rows =
      id ? reader.Buckets(*id, span.fromMinute, span.toMinute, bucket) : std::vector<Bucket>{};
  return WriteFileAtomically(path, HistoryCsv(rows), {}, error);
}

void HistoryWindow::ChooseExport() {
  if (!host_) return;
  QFileDialog chooser(this, Caption("ExportTitle"), ExportName(*host_, period_),
                      Caption("CsvFiles") + " (*.csv);;" + Caption("AllFiles") + " (*)");
  chooser.setObjectName("ExportChooser");
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  FitFileChooser(chooser);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  const QString path = chooser.selectedFiles().front();
  std::string error;
  if (!ExportCsv(path.toStdString(), &error)) {
    QMessageBox::warning(this, Caption("HistoryForm"), Caption("ExportFailed") + "\n" + Text(error));
  }
}

}  // namespace sentrel
