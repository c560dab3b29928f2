#include "gui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>
#include <QWindowStateChangeEvent>

#include "core/alarm.h"
#include "core/event_log.h"
#include "core/host_import.h"
#include "core/monitor.h"
#include "gui/dialogs/bulk_rules.h"
#include "gui/dialogs/discover_dialog.h"
#include "gui/dialogs/import_dialog.h"
#include "gui/host_table_model.h"
#include "gui/list_measures.h"
#include "gui/qt/window_origin.h"
#include "gui/log_pane_widget.h"
#include "gui/wait_cursor.h"
#include "platform/atomic_file.h"
#include "probes/address.h"
#include "probes/host_address.h"
#include "settings/ini_file.h"
#include "settings/language_table.h"
#include "settings/options.h"

namespace sentrel {

namespace {

// The commands that need a row, in the menu bar and in the context menu.
constexpr const char* kRowCommands[] = {"EditItem", "DeleteItem", "PingNowItem", "TraceNowItem",
                                        "HistoryItem"};

// A new host starts with an empty address field: the built-in address is
// none the operator chose, and typing into it would only extend it.
class NewHostEditor final : public HostEditor {
 public:
  explicit NewHostEditor(HostEditor& editor) : editor_(editor) {}
  bool EditHost(HostEntry& host) override {
    if (host.HostIP.Get() == kDefaultHostIP) host.HostIP.Set("");
    return editor_.EditHost(host);
  }

 private:
  HostEditor& editor_;
};

// The usable areas of the screens, the primary one first.
std::vector<ScreenRect> Screens() {
  std::vector<ScreenRect> screens;
  const QScreen* primary = QGuiApplication::primaryScreen();
  const auto add = [&screens](const QScreen* screen) {
    const QRect r = screen->availableGeometry();
    screens.push_back({r.x(), r.y(), r.width(), r.height()});
  };
  if (primary) add(primary);
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen != primary) add(screen);
  }
  return screens;
}

// The column whose header the key "Header1" .. "Header6" captions; -1 for
// other keys.
int HeaderColumn(const std::string& key) {
  if (key.size() != 7 || key.compare(0, 6, "Header") != 0) return -1;
  const int column = key[6] - '1';
  return column >= 0 && column < HostTableModel::kAllColumns ? column : -1;
}

}  // namespace

MainWindow::MainWindow(Monitor& monitor, ROptions& options, Desktop& desktop, EventLog& log,
                       WindowPlacement& placement, MainWindowHooks hooks)
    : monitor_(monitor),
      options_(options),
      desktop_(desktop),
      log_(log),
      placement_(placement),
      hooks_(std::move(hooks)),
      model_(new HostTableModel(monitor.Hosts(), StateImages(), this)),
      list_(new QTreeView(this)),
      pane_(new LogPaneWidget(this)),
      splitter_(new QSplitter(Qt::Vertical, this)),
      counts_(new QLabel(this)) {
  setObjectName("MainForm");
  setWindowTitle(kApplicationTitle);
  setWindowIcon(ProgramIcon());

  list_->setObjectName("HostList");
  list_->setAccessibleName("Hosts");
  list_->setModel(model_);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setItemsExpandable(false);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setIconSize(QSize(16, 16));
  list_->header()->setSectionsClickable(true);
  list_->header()->setSectionsMovable(false);
  // The description takes whatever width the other columns leave.
  list_->header()->setStretchLastSection(true);
  connect(list_->header(), &QHeaderView::sectionClicked, this,
          [this](int column) { model_->SortByHeader(column); });
  // The "Parent" column is there for those who ask for it.
  list_->setColumnHidden(HostTableModel::kParentColumn, true);
  headerMenu_ = new QMenu(this);
  showParent_ = headerMenu_->addAction("Parent");
  showParent_->setObjectName("ShowParentColumn");
  showParent_->setCheckable(true);
  connect(showParent_, &QAction::toggled, this, [this](bool shown) { ShowParentColumn(shown); });
  list_->header()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list_->header(), &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    headerMenu_->popup(list_->header()->mapToGlobal(at));
  });
  connect(list_, &QTreeView::doubleClicked, this, [this] { Edit(); });
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const bool rows = Commands().edit;
    for (const char* key : kRowCommands) actions_.at(std::string("Host") + key)->setEnabled(rows);
    hostMenu_->popup(list_->viewport()->mapToGlobal(at));
  });
  connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid())
              monitor_.Hosts().SelectionChanged(static_cast<std::size_t>(current.row()));
          });

  splitter_->setObjectName("Splitter");
  splitter_->addWidget(list_);
  splitter_->addWidget(pane_);
  splitter_->setChildrenCollapsible(false);
  // A taller window shows more hosts; the log keeps its height.
  splitter_->setStretchFactor(0, 1);
  splitter_->setStretchFactor(1, 0);
  setCentralWidget(splitter_);

  statusBar()->setObjectName("StatusBar");
  counts_->setObjectName("HostCounts");
  statusBar()->addWidget(counts_, 1);
  for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(model_, signal, this, [this] { ShowCounts(); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { ShowCounts(); });
  connect(model_, &QAbstractItemModel::dataChanged, this, [this] { ShowCounts(); });

  BuildMenus();
  BuildToolBar();
  BuildHostMenu();

  refresh_.setInterval(1000);
  connect(&refresh_, &QTimer::timeout, this, [this] { RefreshList(); });
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::Action(const char* key) const {
  auto it = actions_.find(key);
  return it == actions_.end() ? nullptr : it->second;
}

QString MainWindow::Caption(const char* key) const {
  const QAction* action = Action(key);
  return action ? action->text() : QString();
}

void MainWindow::BuildMenus() {
  const auto add = [this](QMenu* menu, const char* key, const QString& caption,
                          std::function<void()> run) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(key);
    connect(action, &QAction::triggered, this, std::move(run));
    actions_[key] = action;
    return action;
  };
  const auto submenu = [this](const char* key, const QString& caption) {
    QMenu* menu = menuBar()->addMenu(caption);
    menu->setObjectName(key);
    menu->menuAction()->setObjectName(key);
    actions_[key] = menu->menuAction();
    return menu;
  };
  menuBar()->setObjectName("MainMenu");

  QMenu* file = submenu("FileItem", "&File");
  add(file, "PingItem", "&Ping", [this] { SetPinging(true); });
  add(file, "StopItem", "&Stop", [this] { SetPinging(false); });
  file->addSeparator();
  add(file, "ImportItem", "&Import hosts...", [this] { ImportHosts(); });
  add(file, "ExportItem", "&Export hosts...", [this] { ExportHosts(); });
  file->addSeparator();
  add(file, "ExitItem", "E&xit", [this] { close(); });

  QMenu* hosts = submenu("HostsItem", "&Hosts");
  add(hosts, "EditItem", "&Edit", [this] { Edit(); });
  add(hosts, "AddItem", "&Add", [this] { Add(); });
  add(hosts, "DeleteItem", "&Delete", [this] { Delete(); });
  hosts->addSeparator();
  add(hosts, "PingNowItem", "Ping &now", [this] { PingNow(); });
  add(hosts, "TraceNowItem", "&Trace now", [this] { TraceNow(); });
  QAction* stopTrace = add(hosts, "StopTraceItem", "Stop t&race", [this] { monitor_.StopTrace(); });
  stopTrace->setShortcut(QKeySequence(Qt::Key_Escape));
  stopTrace->setEnabled(false);
  add(hosts, "HistoryItem", "&History...", [this] { History(); });
  hosts->addSeparator();
  add(hosts, "ReloadIPsItem", "Re&load all Addresses", [this] { ReloadAllAddresses(); });
  hosts->addSeparator();
  add(hosts, "DiscoverItem", "Dis&cover...", [this] { DiscoverHosts(); });

  QMenu* options = submenu("OptionsItem", "&Options...");
  add(options, "EditOptionsItem", "&Edit...", [this] {
    if (hooks_.editOptions) hooks_.editOptions();
  });
  add(options, "SetPassItem", "Set &password...", [this] {
    if (hooks_.setPassword) hooks_.setPassword();
  });

  QAction* stopSounds = menuBar()->addAction("&Stop all sounds");
  stopSounds->setObjectName("StopWAVItem");
  connect(stopSounds, &QAction::triggered, this, [this] { StopAllSounds(); });
  actions_["StopWAVItem"] = stopSounds;

  QMenu* help = submenu("HelpItem", "&Help");
  add(help, "ContentsItem", "&Contents", [this] { Contents(); });
  help->addSeparator();
  add(help, "AboutItem", "&About...", [this] {
    if (hooks_.about) hooks_.about();
  });
}

void MainWindow::BuildToolBar() {
  QToolBar* bar = addToolBar("Toolbar");
  bar->setObjectName("ToolBar");
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setIconSize(QSize(24, 24));
  const auto button = [&](const char* name, const char* theme, const char* own,
                          const QString& tip, std::function<void()> run) {
    QAction* action = bar->addAction(ToolbarIcon(theme, own), tip);
    action->setObjectName(name);
    action->setToolTip(tip);
    connect(action, &QAction::triggered, this, std::move(run));
    actions_[name] = action;
    return action;
  };
  toolPing_ = button("PingBtn", "network-connect", "toolbar-ping", "Ping", [this] { SetPinging(true); });
  toolStop_ = button("StopBtn", "network-disconnect", "toolbar-stop", "Stop ping",
                     [this] { SetPinging(false); });
  bar->addSeparator();
  button("AddBtn", "document-new", "toolbar-add", "Add new host", [this] { Add(); });
  toolEdit_ = button("EditBtn", "document-properties", "toolbar-edit", "Edit host", [this] { Edit(); });
  toolDelete_ = button("DeleteBtn", "edit-delete", "toolbar-delete", "Delete host", [this] { Delete(); });
  bar->addSeparator();
  button("HelpBtn", "help-contents", "toolbar-help", "Show help", [this] { Contents(); });
}

void MainWindow::BuildHostMenu() {
  hostMenu_ = new QMenu(this);
  hostMenu_->setObjectName("HostMenu");
  const auto add = [this](const char* key, const QString& caption, std::function<void()> run) {
    QAction* action = hostMenu_->addAction(caption);
    action->setObjectName(QString("Host") + key);
    connect(action, &QAction::triggered, this, std::move(run));
    actions_[std::string("Host") + key] = action;
  };
  add("EditItem", "Edit", [this] { Edit(); });
  add("AddItem", "Add", [this] { Add(); });
  add("DeleteItem", "Delete", [this] { Delete(); });
  hostMenu_->addSeparator();
  add("PingNowItem", "Ping now", [this] { PingNow(); });
  add("TraceNowItem", "Trace now", [this] { TraceNow(); });
  add("HistoryItem", "History...", [this] { History(); });
  hostMenu_->addSeparator();
  add("ReloadIPsItem", "Reload all Addresses", [this] { ReloadAllAddresses(); });
}

void MainWindow::ApplyLanguage(const std::optional<IniFile>& file) {
  language_ = file;
  QString restore = "Restore";
  QString trayHelp = "Help";
  std::vector<int> renamed;
  for (const CaptionRead& read : WindowCaptions(LanguageWindow::kMainForm)) {
    const std::string key(read.caption->key);
    const QString text = QString::fromStdString(CaptionText(file, read.section, key));
    if (const int column = HeaderColumn(key); column >= 0) {
      if (model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString() != text)
        renamed.push_back(column);
      model_->SetHeaderText(column, text);
      if (column == HostTableModel::kParentColumn) showParent_->setText(text);
    } else if (key == "Restore") {
      restore = text;
    } else if (key == "TrayHelp") {
      trayHelp = text;
    } else if (key == "Lost") {
      model_->SetLostText(text);
    } else if (key == "Degraded") {
      model_->SetDegradedText(text);
    } else if (key == "Unreachable") {
      model_->SetUnreachableText(text);
    } else if (key == "StatusCounts") {
      countsText_ = text;
    } else if (QAction* action = Action(key.c_str())) {
      action->setText(text);
      // A toolbar button shows its caption as its tooltip.
      if (key.ends_with("Btn")) action->setToolTip(text);
    }
    // The context menu shares the menu bar's keys.
    if (QAction* twin = Action(("Host" + key).c_str())) twin->setText(text);
  }
  if (hooks_.setTrayCaptions) {
    TrayCaptions captions;
    captions.restore = restore;
    captions.help = trayHelp;
    captions.ping = Caption("PingItem");
    captions.stop = Caption("StopItem");
    captions.stopSounds = Caption("StopWAVItem");
    captions.about = Caption("AboutItem");
    captions.exit = Caption("ExitItem");
    hooks_.setTrayCaptions(captions);
  }
  WidenColumnsToHeaders(renamed);
  ShowCounts();
}

void MainWindow::ShowCounts() {
  const HostCounts c = model_->Counts();
  // Replaced rather than QString::arg: a translation may leave a number out.
  const QString text = QString(countsText_)
                           .replace("%1", QString::number(c.hosts))
                           .replace("%2", QString::number(c.down))
                           .replace("%3", QString::number(c.disabled));
  if (text == counts_->text()) return;
  counts_->setText(text);
  if (hooks_.setCountsText) hooks_.setCountsText(text);
}

void MainWindow::WidenColumnsToHeaders(const std::vector<int>& columns) {
  // A column whose caption a language made longer than the column is widened
  // to show it; a column the operator made narrower under an unchanged
  // caption stays. The last column fills the list's width anyway, and a size
  // given to it would become the least it could shrink to.
  QHeaderView* header = list_->header();
  for (const int c : columns) {
    if (c + 1 < HostTableModel::kColumns)
      header->resizeSection(c, std::max(header->sectionSize(c), header->sectionSizeHint(c)));
  }
}

void MainWindow::Start() {
  HostList& hosts = monitor_.Hosts();
  const HostFileLoad load = monitor_.LoadHosts();
  model_->ResetFromList();
  // Placed once the rows exist: the address column fits their addresses.
  if (placement_.PlacementLoaded) {
    ApplyPlacement();
  } else {
    ApplyFirstStartPlacement();
  }
  UpdateCommands();
  if (!hosts.Empty()) SelectRow(0);
  hosts.SetModified(false);
  refresh_.start();
  // An empty list here would be a lie that a later save writes over the
  // file; the list refuses that save, and the operator learns why now.
  if (!load.error.empty()) {
    pane_->Append(load.error + "\r\n");
    desktop_.ShowMessage(load.error, kApplicationTitle, MessageIcon::Error);
  }
}

QStringList MainWindow::Addresses() const {
  QStringList addresses;
  for (int row = 0; row < model_->rowCount(); ++row) addresses << model_->Text(row, 0);
  return addresses;
}

FirstStartLayout MainWindow::FirstStart() const {
  const std::vector<ScreenRect> screens = Screens();
  // Without any screen (not on a desktop) a common small one stands in.
  return FirstStartPlacement(MeasureHostList(*this, *list_, Addresses()),
                             screens.empty() ? ScreenRect{0, 0, 1024, 768} : screens.front());
}

void MainWindow::ShowParentColumn(bool shown) {
  placement_.ShowParent = shown;
  if (showParent_->isChecked() != shown) showParent_->setChecked(shown);
  list_->setColumnHidden(HostTableModel::kParentColumn, !shown);
  // The description is no longer the last column that fills the rest.
  if (shown) {
    const int description = HostTableModel::kColumns - 1;
    list_->header()->resizeSection(
        description, std::max(placement_.ColWidth[static_cast<std::size_t>(description)],
                              kDefaultColumnWidths[static_cast<std::size_t>(description)]));
  }
}

void MainWindow::ApplyFirstStartPlacement() {
  const FirstStartLayout layout = FirstStart();
  const ScreenRect& r = layout.window;
  setGeometry(r.left, r.top, r.width, r.height);
  splitter_->setSizes({layout.listHeight, layout.listHeight / 2});
  pendingListHeight_ = layout.listHeight;
  for (int c = 0; c < HostTableModel::kColumns; ++c)
    list_->header()->resizeSection(c, layout.columns[static_cast<std::size_t>(c)]);
}

void MainWindow::ApplyPlacement() {
  const std::vector<ScreenRect> screens = Screens();
  // An unusable stored place gives way to the first start's, given relative
  // to the primary screen's corner.
  const FirstStartLayout first = FirstStart();
  ScreenRect fallback = first.window;
  if (!screens.empty()) {
    fallback.left -= screens.front().left;
    fallback.top -= screens.front().top;
  }
  const ScreenRect r = UsableWindowRect(placement_, screens, fallback);
  setGeometry(r.left, r.top, r.width, r.height);
  // A list height never stored (a key holding only the running state) is
  // the first start's, not a list squeezed to nothing.
  const int listHeight = placement_.ListHeight > 0 ? placement_.ListHeight : first.listHeight;
  splitter_->setSizes({listHeight, std::max(r.height, 1)});
  pendingListHeight_ = listHeight;
  // The last column fills what the others leave; a stored width given to it
  // would become the least it could shrink to.
  for (int c = 0; c + 1 < HostTableModel::kColumns; ++c)
    list_->header()->resizeSection(c, std::max(placement_.ColWidth[static_cast<std::size_t>(c)], 0));
  // Only here, never while the operator drags it: an address column stored
  // narrower than the widest address of the list is widened to show it.
  const int address = AddressColumnWidth(*list_, Addresses());
  if (list_->header()->sectionSize(0) < address) list_->header()->resizeSection(0, address);
  ShowParentColumn(placement_.ShowParent);
}

void MainWindow::RememberNormalGeometry() {
  if (!isVisible() || (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
    return;
  lastNormal_ = QRect(ClientOrigin(*this).value_or(geometry().topLeft()), size());
}

void MainWindow::CapturePlacement() {
  RememberNormalGeometry();
  // Minimised, maximised or hidden: where it was when last shown normal.
  const QRect g = lastNormal_.isValid() ? lastNormal_
                  : (isMinimized() || isMaximized()) ? normalGeometry()
                                                     : geometry();
  placement_.Left = g.x();
  placement_.Top = g.y();
  placement_.Width = g.width();
  placement_.Height = g.height();
  placement_.ListHeight = splitter_->sizes().value(0);
  for (int c = 0; c < HostTableModel::kColumns; ++c)
    placement_.ColWidth[static_cast<std::size_t>(c)] = list_->header()->sectionSize(c);
  placement_.Visible = isVisible() && !isMinimized();
  placement_.Captured = true;
}

CommandState MainWindow::Commands() const {
  return CommandsFor(monitor_.Hosts().Count(), monitor_.Pinging(), options_.MultPlayWAV);
}

void MainWindow::UpdateCommands() {
  const CommandState state = Commands();
  for (const char* key : kRowCommands) Action(key)->setEnabled(state.edit);
  for (QAction* a : {toolEdit_, toolDelete_}) a->setEnabled(state.edit);
  Action("PingItem")->setEnabled(state.ping);
  toolPing_->setEnabled(state.ping);
  Action("StopItem")->setEnabled(state.stop);
  toolStop_->setEnabled(state.stop);
  Action("StopWAVItem")->setEnabled(state.stopSounds);
  if (monitor_.Hosts().Modified()) monitor_.SaveHosts();
}

std::optional<int> MainWindow::SelectedRow() const {
  const QModelIndexList selected = list_->selectionModel()->selectedRows();
  if (selected.isEmpty()) return std::nullopt;
  return selected.first().row();
}

void MainWindow::SelectRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  const QModelIndex at = model_->index(row, 0);
  list_->selectionModel()->setCurrentIndex(
      at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list_->scrollTo(at);
}

void MainWindow::SetPinging(bool on) {
  monitor_.SetPinging(on);
  if (hooks_.setTrayImage) hooks_.setTrayImage(on ? TrayImage::Checking : TrayImage::Stopped);
  UpdateCommands();
}

void MainWindow::Add() {
  if (editor_) {
    NewHostEditor editor(*editor_);
    if (monitor_.Hosts().AddHost(editor, desktop_)) SelectRow(model_->RowAppended());
  }
  UpdateCommands();
}

void MainWindow::Edit() {
  const auto row = SelectedRow();
  if (row && editor_ && monitor_.Hosts().EditHost(static_cast<std::size_t>(*row), *editor_))
    model_->RowEdited(*row);
  UpdateCommands();
}

void MainWindow::Delete() {
  if (const auto row = SelectedRow()) {
    std::optional<std::size_t> next;
    model_->RemoveRow(*row, [&] { next = monitor_.Hosts().DeleteHost(static_cast<std::size_t>(*row)); });
    if (next) SelectRow(static_cast<int>(*next));
  }
  UpdateCommands();
}

void MainWindow::PingNow() {
  const auto row = SelectedRow();
  if (!row) return;
  WaitCursor wait;
  // The window stays alive meanwhile; the host may even be deleted.
  monitor_.PingNow(static_cast<std::size_t>(*row));
}

void MainWindow::TraceNow() {
  const auto row = SelectedRow();
  if (!row || monitor_.Tracing()) return;
  const QPoint mouse = QCursor::pos();
  {
    WaitCursor wait;
    QAction* stop = Action("StopTraceItem");
    stop->setEnabled(true);
    // The window stays alive between hops, which reach the log pane as they
    // come; the host may even be deleted.
    monitor_.TraceNow(static_cast<std::size_t>(*row));
    stop->setEnabled(false);
  }
  // Nudging the pointer makes the desktop show the restored cursor at once.
  QCursor::setPos(mouse - QPoint(1, 1));
}

void MainWindow::History() {
  if (!hooks_.showHistory || !Commands().edit) return;
  const auto row = SelectedRow();
  hooks_.showHistory(row ? std::optional<std::size_t>(static_cast<std::size_t>(*row)) : std::nullopt);
}

void MainWindow::ReloadAllAddresses() {
  WaitCursor wait;
  list_->setUpdatesEnabled(false);
  HostList& hosts = monitor_.Hosts();
  for (std::size_t row = 0; row < hosts.Count(); ++row) {
    HostEntry& host = hosts.Host(row);
    const IpAddress address = ResolveAddress(host.HostName.Get(), AddressFamilyOf(host.IPFamily));
    if (IsNoAddress(address)) continue;
    host.HostIP.Set(AddressText(address));
    model_->SetAddressText(static_cast<int>(row), QString::fromStdString(host.HostIP.Get()));
  }
  list_->setUpdatesEnabled(true);
}

QString MainWindow::BulkCaption(const char* key) const {
  return QString::fromStdString(CaptionText(language_, kImportFormSection, key));
}

void MainWindow::HostsAdded(const std::vector<std::size_t>& rows) {
  if (rows.empty()) return;
  model_->ResetFromList();
  SelectRow(static_cast<int>(rows.front()));
  UpdateCommands();
}

void MainWindow::ImportHosts() {
  const QString title = Caption("ImportItem").remove('&').remove("...");
  const QString path = QFileDialog::getOpenFileName(
      this, title, {},
      QString::fromStdString(HostFileFilter(BulkCaption("HostFiles").toStdString(),
                                            BulkCaption("AllFiles").toStdString())));
  if (path.isEmpty()) return;
  QFile file(path);
  // A host list of 1,024 rows is far below this; anything larger is not one.
  if (!file.open(QIODevice::ReadOnly) || file.size() > (16 << 20)) {
    desktop_.ShowMessage((BulkCaption("CannotRead") + " " + path).toStdString(), title.toStdString(),
                         MessageIcon::Error);
    return;
  }
  const QByteArray bytes = file.readAll();
  ImportPlan plan = ReadImportFile(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  if (!plan.fileError.empty()) {
    desktop_.ShowMessage(BulkCaption("NoHeader").toStdString(), title.toStdString(), MessageIcon::Error);
    return;
  }
  HostList& hosts = monitor_.Hosts();
  CheckImportAgainst(plan, hosts);
  ImportDialog preview(plan, QFileInfo(path).fileName(), language_, NameResolvesNow, this);
  if (preview.exec() != QDialog::Accepted) return;
  HostsAdded(ApplyImport(plan, hosts));
}

void MainWindow::ExportHosts() {
  const QString title = BulkCaption("ExportTitle");
  const QString path = QFileDialog::getSaveFileName(
      this, title, "sentrel-hosts.csv",
      QString::fromStdString(HostFileFilter(BulkCaption("HostFiles").toStdString(),
                                            BulkCaption("AllFiles").toStdString())));
  if (path.isEmpty()) return;
  std::string error;
  if (!WriteFileAtomically(path.toStdString(), ExportHostsCsv(monitor_.Hosts()), "", &error))
    desktop_.ShowMessage((BulkCaption("ExportFailed") + " " + QString::fromStdString(error)).toStdString(),
                         title.toStdString(), MessageIcon::Error);
}

void MainWindow::DiscoverHosts() {
  DiscoverDialog dialog(monitor_.Hosts(), hooks_.echoLibrary, language_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  HostsAdded(AddFoundHosts(monitor_.Hosts(), dialog.Selected()));
}

void MainWindow::StopAllSounds() { desktop_.StopSounds(); }

void MainWindow::Contents() { desktop_.ShowHelp(1, 0); }

void MainWindow::RefreshList() {
  if (!monitor_.Pinging()) return;
  const bool lost = model_->Refresh();
  monitor_.PublishStates();
  if (hooks_.setTrayImage) hooks_.setTrayImage(lost ? TrayImage::Lost : TrayImage::Checking);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  closed_ = true;
  if (hooks_.closing) hooks_.closing();
  refresh_.stop();
  log_.Close();
  // Every worker ends before its host goes; the rows go with them.
  monitor_.Shutdown();
  model_->RemoveAllRows([this] { monitor_.Hosts().Clear(); });
  CapturePlacement();
  event->accept();
  if (hooks_.closed) QMetaObject::invokeMethod(this, [this] { hooks_.closed(); }, Qt::QueuedConnection);
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || minimising_) return;
  auto* change = static_cast<QWindowStateChangeEvent*>(event);
  if (isMinimized() && !(change->oldState() & Qt::WindowMinimized)) Minimised();
}

void MainWindow::Minimised() {
  minimising_ = true;
  if (hooks_.minimiseToTray && hooks_.minimiseToTray()) {
    // To the tray: the window leaves the taskbar and comes back from the icon
    // (showNormal). Its minimised state stays: asking the window manager to
    // restore it first could map it again after the hide.
    hide();
  }
  CapturePlacement();
  placement_.Visible = false;
  minimising_ = false;
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The list takes exactly the height it was given, now that the window's
  // real height is known; the log pane takes the rest.
  if (pendingListHeight_ >= 0) {
    const int shared = splitter_->height() - splitter_->handleWidth();
    splitter_->setSizes({pendingListHeight_, std::max(shared - pendingListHeight_, 1)});
    pendingListHeight_ = -1;
  }
  UpdateCommands();
  list_->setFocus();
  RememberNormalGeometry();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  RememberNormalGeometry();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  RememberNormalGeometry();
}

}  // namespace sentrel
