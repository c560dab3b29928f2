#include "gui/dialogs/import_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/dialogs/bulk_rules.h"
#include "gui/language_captions.h"
#include "settings/language_table.h"

namespace sentrel {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

ImportDialog::ImportDialog(ImportPlan& plan, const QString& file, const std::optional<IniFile>& language,
                           NameResolver resolves, QWidget* parent)
    : QDialog(parent),
      plan_(plan),
      language_(language),
      table_(new QTableWidget(this)),
      progress_(new QProgressBar(this)),
      status_(new QLabel(this)),
      import_(new QPushButton(this)) {
  setObjectName("ImportForm");
  table_->setObjectName("ImportTable");
  table_->setColumnCount(4);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  progress_->setObjectName("ImportProgress");
  status_->setObjectName("ImportStatus");
  status_->setWordWrap(true);
  import_->setObjectName("ImportBtn");
  import_->setEnabled(false);
  import_->setDefault(true);
  auto* cancel = new QPushButton(this);
  cancel->setObjectName("CancelBtn");
  connect(import_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &ImportDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(status_, 1);
  buttons->addWidget(import_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addWidget(progress_);
  layout->addLayout(buttons);

  ApplyCaptionsByName(*this, LanguageWindow::kImportForm, language_);
  setWindowTitle(Caption("ImportForm") + " - " + file);
  table_->setHorizontalHeaderLabels({Caption("LineColumn"), Caption("AddressColumn"),
                                     Caption("NameColumn"), Caption("OutcomeColumn")});
  FillTable();
  resize(720, 480);

  // Names that do not resolve may each keep the resolver for seconds: the
  // window stays alive and shows how far the lookups are.
  status_->setText(Caption("LookingUp"));
  lookups_ = std::jthread([this, resolves = std::move(resolves)](std::stop_token stop) {
    LookUpImportNames(
        plan_, resolves,
        [this](std::size_t done, std::size_t all) {
          toLook_ = all;
          looked_ = done;
        },
        16, stop);
    lookedUp_ = true;
  });
  connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
  poll_.start(100);
}

ImportDialog::~ImportDialog() {
  lookups_.request_stop();
  if (lookups_.joinable()) lookups_.join();
}

QString ImportDialog::Caption(const char* key) const {
  return Text(CaptionText(language_, kImportFormSection, key));
}

QString ImportDialog::OutcomeText(const ImportRow& row) const {
  const OutcomeCaption outcome = OutcomeCaptionOf(row);
  QString text = Caption(std::string(outcome.key).c_str());
  const QString argument = outcome.reasonKey.empty() ? QString::number(outcome.number)
                                                     : Caption(std::string(outcome.reasonKey).c_str());
  return text.replace("%1", argument);
}

void ImportDialog::FillTable() {
  table_->setRowCount(static_cast<int>(plan_.rows.size()));
  for (int r = 0; r < table_->rowCount(); ++r) {
    const ImportRow& row = plan_.rows[static_cast<std::size_t>(r)];
    const QStringList cells{QString::number(row.line), Text(row.address), Text(row.name), OutcomeText(row)};
    for (int c = 0; c < cells.size(); ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (row.fate == ImportFate::Reject) item->setForeground(Qt::darkRed);
      if (row.fate == ImportFate::Skip) item->setForeground(Qt::gray);
      table_->setItem(r, c, item);
    }
  }
  // The last column takes the rest of the width.
  for (int c = 0; c + 1 < table_->columnCount(); ++c) table_->resizeColumnToContents(c);
}

void ImportDialog::Poll() {
  progress_->setMaximum(static_cast<int>(std::max<std::size_t>(toLook_, 1)));
  progress_->setValue(static_cast<int>(toLook_ == 0 ? 0 : looked_.load()));
  if (lookedUp_) FinishLookups();
}

void ImportDialog::FinishLookups() {
  poll_.stop();
  if (lookups_.joinable()) lookups_.join();
  progress_->setValue(progress_->maximum());
  FillTable();
  const ImportCounts counts = plan_.Counts();
  QString summary = Caption("Summary")
                        .replace("%1", QString::number(counts.added))
                        .replace("%2", QString::number(counts.skipped))
                        .replace("%3", QString::number(counts.rejected));
  const auto full = std::count_if(plan_.rows.begin(), plan_.rows.end(),
                                  [](const ImportRow& row) { return row.reason == ImportReason::ListFull; });
  if (full > 0) summary += "  " + Caption("ListFullNote").replace("%1", QString::number(full));
  status_->setText(summary);
  import_->setEnabled(counts.added > 0);
}

void ImportDialog::reject() {
  // No new lookup starts; those under way end by the resolver's time-out.
  poll_.stop();
  lookups_.request_stop();
  if (lookups_.joinable()) lookups_.join();
  QDialog::reject();
}

}  // namespace sentrel
