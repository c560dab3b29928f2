#include "gui/dialogs/notifications_page.h"

#include <ctime>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/text.h"
#include "notify/target_message.h"
#include "platform/desktop.h"
#include "platform/registry.h"

namespace sentrel {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

QPushButton* Button(const char* key, const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(key);
  button->setAutoDefault(false);
  return button;
}

QLabel* Label(const char* key, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(key);
  return label;
}

QString RowText(const NotifyTarget& target) {
  return Q(target.Name + "  (" + target.Kind + ")  " + target.Url);
}

}  // namespace

std::string TargetValuesText(const NotifyTarget& target) {
  std::string text;
  for (const auto& [name, value] : target.Values) text += name + "=" + value + "\n";
  return text;
}

std::vector<std::pair<std::string, std::string>> ParseTargetValues(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> values;
  for (std::string_view line : SplitAtLineBreaks(text)) {
    if (TrimBlanksView(line).empty()) continue;
    const std::size_t equals = line.find('=');
    values.emplace_back(TrimBlanks(line.substr(0, equals)),
                        equals == std::string_view::npos ? "" : std::string(line.substr(equals + 1)));
  }
  return values;
}

NotificationsPage::NotificationsPage(Desktop& desktop, QWidget* parent)
    : QWidget(parent), desktop_(desktop) {
  setObjectName("Notifications");
  QLabel* targetsLabel = targetsLabel_ = Label("TargetsLabel", "Targets:", this);
  list_ = new QListWidget(this);
  list_->setObjectName("TargetsList");
  targetsLabel->setBuddy(list_);
  add_ = Button("AddTarget", "&Add...", this);
  edit_ = Button("EditTarget", "&Edit...", this);
  remove_ = Button("RemoveTarget", "Re&move", this);
  test_ = Button("TestTarget", "&Test", this);
  answer_ = new QLabel(this);
  answer_->setObjectName("TestAnswer");
  answer_->setWordWrap(true);
  answer_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QLabel* statusLabel = Label("StatusTargetsLabel", "Status message also to:", this);
  statusTargets_ = new QLineEdit(this);
  statusTargets_->setObjectName("StatusTargetsEdit");
  statusLabel->setBuddy(statusTargets_);

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {add_, edit_, remove_, test_}) buttons->addWidget(b);
  buttons->addStretch(1);
  auto* grid = new QGridLayout(this);
  grid->addWidget(targetsLabel, 0, 0, 1, 2);
  grid->addWidget(list_, 1, 0);
  grid->addLayout(buttons, 1, 1);
  grid->addWidget(answer_, 2, 0, 1, 2);
  grid->addWidget(statusLabel, 3, 0, 1, 2);
  grid->addWidget(statusTargets_, 4, 0, 1, 2);
  grid->setRowStretch(1, 1);

  connect(add_, &QPushButton::clicked, this, [this] { Add(); });
  connect(edit_, &QPushButton::clicked, this, [this] { Edit(); });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { Edit(); });
  connect(remove_, &QPushButton::clicked, this, [this] { Remove(); });
  connect(test_, &QPushButton::clicked, this, [this] { Test(); });
  connect(list_, &QListWidget::currentRowChanged, this, [this] {
    for (QPushButton* b : {edit_, remove_, test_}) b->setEnabled(Selected() >= 0);
  });
  dialog_ = BuildTargetDialog();
  NameForScreenReaders();
}

void NotificationsPage::NameForScreenReaders() {
  // By the captions, which the language may have changed since.
  const auto plain = [](const QString& caption) { return QString(caption).remove('&'); };
  list_->setAccessibleName(plain(targetsLabel_->text()));
  answer_->setAccessibleName(plain(test_->text()));
}

NotificationsPage::~NotificationsPage() {
  tester_.request_stop();
  if (tester_.joinable()) tester_.join();
}

QDialog* NotificationsPage::BuildTargetDialog() {
  // A child of the page, so that the options dialog's captions reach it.
  auto* dialog = new QDialog(this);
  dialog->setObjectName("TargetDialog");
  name_ = new QLineEdit(dialog);
  name_->setObjectName("TargetNameEdit");
  kind_ = new QComboBox(dialog);
  kind_->setObjectName("TargetKindList");
  for (std::string_view kind : kTargetKinds) kind_->addItem(Q(std::string(kind)));
  url_ = new QLineEdit(dialog);
  url_->setObjectName("TargetUrlEdit");
  url_->setPlaceholderText("https://");
  values_ = new QPlainTextEdit(dialog);
  values_->setObjectName("TargetValuesEdit");
  values_->setPlaceholderText("Token=...\nChatId=...\nTopic=...\nPriority=...\nBody=...\nCAFile=...");
  auto* form = new QFormLayout;
  const auto row = [&](const char* key, const QString& text, QWidget* field) {
    QLabel* label = Label(key, text, dialog);
    label->setBuddy(field);
    form->addRow(label, field);
  };
  row("TargetName", "&Name:", name_);
  row("TargetKind", "&Kind:", kind_);
  row("TargetUrl", "&URL:", url_);
  row("TargetValues", "&Values (KEY=VALUE, one a line):", values_);
  auto* box = new QDialogButtonBox(dialog);
  QPushButton* ok = box->addButton("Ok", QDialogButtonBox::AcceptRole);
  ok->setObjectName("Ok");
  QPushButton* cancel = box->addButton("Cancel", QDialogButtonBox::RejectRole);
  cancel->setObjectName("Cancel");
  connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(dialog);
  layout->addLayout(form);
  layout->addWidget(box);
  dialog->resize(520, 320);
  return dialog;
}

void NotificationsPage::Load(const Registry& registry, const std::string& statusTargets) {
  NameForScreenReaders();
  targets_ = LoadTargets(registry);
  removed_.clear();
  statusTargets_->setText(Q(statusTargets));
  answer_->clear();
  Refill();
}

void NotificationsPage::Store(Registry& registry) const {
  for (const std::string& name : removed_) RemoveTarget(registry, name);
  for (const NotifyTarget& target : targets_) StoreTarget(registry, target);
}

std::string NotificationsPage::StatusTargets() const {
  return JoinTargetNames(SplitTargetNames(S(statusTargets_->text())));
}

void NotificationsPage::Refill() {
  const int keep = list_->currentRow();
  list_->clear();
  for (const NotifyTarget& target : targets_) list_->addItem(RowText(target));
  list_->setCurrentRow(std::min(keep, list_->count() - 1));
  for (QPushButton* b : {edit_, remove_, test_}) b->setEnabled(Selected() >= 0);
}

int NotificationsPage::Selected() const {
  const int row = list_->currentRow();
  return row >= 0 && row < static_cast<int>(targets_.size()) ? row : -1;
}

bool NotificationsPage::EditInDialog(NotifyTarget& target) {
  const QString title = Q(kApplicationTitle);
  dialog_->setWindowTitle(target.Name.empty() ? title : Q(target.Name));
  name_->setText(Q(target.Name));
  kind_->setCurrentIndex(std::max(0, kind_->findText(Q(target.Kind))));
  url_->setText(Q(target.Url));
  values_->setPlainText(Q(TargetValuesText(target)));
  while (dialog_->exec() == QDialog::Accepted) {
    NotifyTarget edited;
    edited.Name = TrimBlanks(S(name_->text()));
    edited.Kind = S(kind_->currentText());
    edited.Url = TrimBlanks(S(url_->text()));
    edited.Values = ParseTargetValues(S(values_->toPlainText()));
    std::string problem = TargetProblem(edited);
    for (const NotifyTarget& other : targets_) {
      if (&other != &target && EqualsIgnoringCase(other.Name, edited.Name)) {
        problem = "a target named " + edited.Name + " exists already";
      }
    }
    if (problem.empty()) {
      target = std::move(edited);
      return true;
    }
    desktop_.ShowMessage(problem, kApplicationTitle, MessageIcon::Error);
  }
  return false;
}

void NotificationsPage::Add() {
  NotifyTarget target;
  target.Kind = "webhook";
  targets_.push_back(target);
  if (!EditInDialog(targets_.back())) {
    targets_.pop_back();
    return;
  }
  Refill();
  list_->setCurrentRow(static_cast<int>(targets_.size()) - 1);
}

void NotificationsPage::Edit() {
  const int row = Selected();
  if (row < 0) return;
  const std::string before = targets_[row].Name;
  if (!EditInDialog(targets_[row])) return;
  if (!EqualsIgnoringCase(before, targets_[row].Name)) removed_.push_back(before);
  Refill();
}

void NotificationsPage::Remove() {
  const int row = Selected();
  if (row < 0) return;
  removed_.push_back(targets_[row].Name);
  targets_.erase(targets_.begin() + row);
  Refill();
}

void NotificationsPage::Test() {
  const int row = Selected();
  if (row < 0 || tester_.joinable()) return;
  const NotifyTarget target = targets_[row];
  test_->setEnabled(false);
  answer_->setText(Q(target.Name + ": ..."));
  QPointer<NotificationsPage> page(this);
  tester_ = std::jthread([page, target](std::stop_token stop) {
    const DeliveryOutcome outcome = DeliverToTarget(
        target, TestTargetEvent(static_cast<long long>(std::time(nullptr))), {}, stop);
    const QString text = Q(target.Name + ": " + outcome.reason);
    // Back on the window thread; a page gone meanwhile gets nothing.
    QMetaObject::invokeMethod(
        qApp,
        [page, text] {
          if (!page) return;
          page->answer_->setText(text);
          page->tester_.join();
          page->test_->setEnabled(page->Selected() >= 0);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace sentrel
