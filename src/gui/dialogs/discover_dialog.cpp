#include "gui/dialogs/discover_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/host_import.h"
#include "gui/language_captions.h"
#include "probes/address.h"
#include "probes/address_range.h"
#include "settings/language_table.h"

namespace sentrel {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

DiscoverDialog::DiscoverDialog(const HostList& list, std::shared_ptr<IcmpLibrary> library,
                               const std::optional<IniFile>& language, QWidget* parent,
                               SweepSettings settings)
    : QDialog(parent),
      list_(list),
      library_(std::move(library)),
      settings_(std::move(settings)),
      language_(language),
      range_(new QLineEdit(this)),
      start_(new QPushButton(this)),
      progress_(new QProgressBar(this)),
      table_(new QTableWidget(this)),
      status_(new QLabel(this)),
      add_(new QPushButton(this)) {
  setObjectName("DiscoverForm");
  auto* rangeLabel = new QLabel(this);
  rangeLabel->setObjectName("RangeLabel");
  rangeLabel->setBuddy(range_);
  range_->setObjectName("RangeEdit");
  start_->setObjectName("StartBtn");
  start_->setDefault(true);
  progress_->setObjectName("SweepProgress");
  progress_->setValue(0);
  table_->setObjectName("FoundTable");
  table_->setColumnCount(4);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  status_->setObjectName("SweepStatus");
  status_->setWordWrap(true);
  add_->setObjectName("AddSelectedBtn");
  add_->setEnabled(false);
  auto* cancel = new QPushButton(this);
  cancel->setObjectName("CancelBtn");
  connect(start_, &QPushButton::clicked, this, [this] { StartSweep(range_->text()); });
  connect(range_, &QLineEdit::returnPressed, this, [this] { StartSweep(range_->text()); });
  connect(add_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &DiscoverDialog::reject);

  auto* top = new QHBoxLayout;
  top->addWidget(rangeLabel);
  top->addWidget(range_, 1);
  top->addWidget(start_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(add_);
  bottom->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(progress_);
  layout->addWidget(table_, 1);
  layout->addLayout(bottom);

  ApplyCaptionsByName(*this, LanguageWindow::kDiscoverForm, language_);
  range_->setPlaceholderText(Caption("RangeHint"));
  table_->setHorizontalHeaderLabels({Caption("AddressColumn"), Caption("NameColumn"),
                                     Caption("TimeColumn"), Caption("ListedColumn")});
  connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
  resize(640, 440);
}

DiscoverDialog::~DiscoverDialog() {
  if (sweep_) sweep_->Stop();
  if (thread_.joinable()) thread_.join();
}

QString DiscoverDialog::Caption(const char* key) const {
  return Text(CaptionText(language_, kDiscoverFormSection, key));
}

void DiscoverDialog::StartSweep(const QString& range) {
  if (thread_.joinable()) return;
  std::string error;
  std::vector<IpAddress> targets = ParseAddressRange(range.trimmed().toStdString(), error);
  if (targets.empty()) {
    status_->setText(Caption("BadRange"));
    return;
  }
  found_.clear();
  table_->setRowCount(0);
  add_->setEnabled(false);
  start_->setEnabled(false);
  range_->setEnabled(false);
  total_ = targets.size();
  ended_ = 0;
  done_ = false;
  progress_->setMaximum(static_cast<int>(total_));
  progress_->setValue(0);
  sweep_ = std::make_unique<Sweep>(library_, settings_);
  thread_ = std::thread([this, targets = std::move(targets)] {
    std::vector<SweepAnswer> found =
        sweep_->Run(targets, [this](std::size_t ended, std::size_t) { ended_ = ended; });
    found_ = std::move(found);
    done_ = true;
  });
  poll_.start(100);
}

void DiscoverDialog::Poll() {
  progress_->setValue(static_cast<int>(ended_.load()));
  status_->setText(Caption("Sweeping")
                       .replace("%1", QString::number(ended_.load()))
                       .replace("%2", QString::number(total_))
                       .replace("%3", QString::number(sweep_->Answered())));
  if (done_) EndSweep();
}

void DiscoverDialog::EndSweep() {
  poll_.stop();
  thread_.join();
  start_->setEnabled(true);
  range_->setEnabled(true);
  if (!sweep_->Error().empty()) {
    status_->setText(Caption("NoIcmp"));
    return;
  }
  ShowFound();
  const QString count = QString::number(found_.size());
  status_->setText(sweep_->Stopped()
                       ? Caption("SweepStopped").replace("%1", count)
                       : Caption("SweepDone").replace("%1", count).replace("%2", QString::number(total_)));
}

void DiscoverDialog::ShowFound() {
  table_->setRowCount(static_cast<int>(found_.size()));
  bool anyNew = false;
  for (int r = 0; r < table_->rowCount(); ++r) {
    const SweepAnswer& answer = found_[static_cast<std::size_t>(r)];
    const std::optional<std::size_t> listed = ListedRowOf(list_, answer.address);
    auto* address = new QTableWidgetItem(Text(AddressText(answer.address)));
    // A listed host is shown, not offered a second time.
    address->setFlags(listed ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    address->setCheckState(listed ? Qt::Unchecked : Qt::Checked);
    anyNew = anyNew || !listed;
    table_->setItem(r, 0, address);
    table_->setItem(r, 1, new QTableWidgetItem(Text(answer.name)));
    table_->setItem(r, 2, new QTableWidgetItem(QString::number(answer.rtt) + " ms"));
    table_->setItem(r, 3, new QTableWidgetItem(listed ? Caption("ListedRow").replace("%1", QString::number(*listed + 1))
                                                      : Caption("NewHost")));
  }
  // The last column takes the rest of the width.
  for (int c = 0; c + 1 < table_->columnCount(); ++c) table_->resizeColumnToContents(c);
  add_->setEnabled(anyNew);
}

std::vector<SweepAnswer> DiscoverDialog::Selected() const {
  std::vector<SweepAnswer> selected;
  for (int r = 0; r < table_->rowCount() && static_cast<std::size_t>(r) < found_.size(); ++r) {
    if (table_->item(r, 0)->checkState() == Qt::Checked) selected.push_back(found_[static_cast<std::size_t>(r)]);
  }
  return selected;
}

void DiscoverDialog::reject() {
  // Cancel during a sweep stops it at once; the dialog stays with what was found.
  if (thread_.joinable()) {
    sweep_->Stop();
    return;
  }
  QDialog::reject();
}

}  // namespace sentrel
