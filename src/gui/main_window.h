#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include "gui/app_tray.h"
#include "gui/artwork.h"
#include "gui/command_state.h"
#include "gui/placement.h"
#include "platform/icmp_library.h"
#include "settings/ini_file.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTreeView;

namespace sentrel {

class Desktop;
class EventLog;
class HostEditor;
class HostTableModel;
class LogPaneWidget;
class Monitor;
struct ROptions;

// What the main window reaches outside itself; the application wires it.
struct MainWindowHooks {
  std::function<void(TrayImage)> setTrayImage;
  // The tray menu's captions after the language was applied: Restore, then
  // Ping, Stop, Stop all sounds, About and Exit as the menu bar shows them.
  std::function<void(const TrayCaptions&)> setTrayCaptions;
  // "N hosts, M down, K disabled" as the status bar shows it, for the tray
  // icon's tooltip.
  std::function<void(const QString&)> setCountsText;
  // Minimising goes to the tray (true) or to the taskbar (false).
  std::function<bool()> minimiseToTray;
  std::function<void()> editOptions;
  std::function<void()> setPassword;
  std::function<void()> about;
  // "History...": the history window for the host in the row, or for the
  // first host in the history when no row is selected.
  std::function<void(std::optional<std::size_t> row)> showHistory;
  // The close handler has run: the application ends.
  std::function<void()> closed;
  // The window is closing, before it closes the log: blocking work in
  // progress (a mail transfer, a manual trace) is cut short.
  std::function<void()> closing;
  // The echo library that "Discover..." sweeps with; null: no ICMP.
  std::shared_ptr<IcmpLibrary> echoLibrary;
};

// The window in which the operator sees and edits the hosts: menu bar,
// toolbar, host list, log pane, and every command on them. Window thread only.
class MainWindow final : public QMainWindow {
 public:
  MainWindow(Monitor& monitor, ROptions& options, Desktop& desktop, EventLog& log,
             WindowPlacement& placement, MainWindowHooks hooks);
  ~MainWindow() override;

  void SetHostEditor(HostEditor* editor) { editor_ = editor; }
  // The Options and Set password commands (their dialogs exist after the
  // window).
  void SetOptionsCommands(std::function<void()> editOptions, std::function<void()> setPassword) {
    hooks_.editOptions = std::move(editOptions);
    hooks_.setPassword = std::move(setPassword);
  }
  LogPaneWidget& Pane() { return *pane_; }
  HostTableModel& Model() { return *model_; }

  // The start: placement applied (when loaded), hosts loaded into the rows,
  // the first row selected, Modified cleared, the refresh timer started.
  void Start();

  // Commands.
  void SetPinging(bool on);
  void UpdateCommands();
  void Add();
  void Edit();
  void Delete();
  void PingNow();
  void TraceNow();
  void History();
  void ReloadAllAddresses();
  // "Import hosts...": a file chooser, then the preview; the rows it offers
  // are added on "Add hosts" and the list is saved.
  void ImportHosts();
  // "Export hosts...": the list as the CSV that import reads.
  void ExportHosts();
  // "Discover...": the sweep dialog; the hosts ticked there are added.
  void DiscoverHosts();
  void StopAllSounds();
  void Contents();
  void RefreshList();

  // Sets every caption from the language file (the built-in text for what
  // it lacks), then hands the tray menu its captions.
  void ApplyLanguage(const std::optional<IniFile>& file);

  // Copies position, size, list height, column widths and visibility into
  // the placement.
  void CapturePlacement();
  // The state of the commands as the menus show them.
  CommandState Commands() const;
  std::optional<int> SelectedRow() const;
  void SelectRow(int row);
  // Every command action by its caption key ("PingItem", ...).
  QAction* Action(const char* key) const;
  // Shows or hides the list's "Parent" column, as the header's menu does;
  // the placement keeps the choice.
  void ShowParentColumn(bool shown);
  // The caption of a menu bar item by key, for the tray menu.
  QString Caption(const char* key) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // A text of the import section of the language file.
  QString BulkCaption(const char* key) const;
  // Rows were added in bulk: shown, the first selected, the list saved.
  void HostsAdded(const std::vector<std::size_t>& rows);
  void BuildMenus();
  void BuildToolBar();
  void BuildHostMenu();
  void ApplyPlacement();
  void ApplyFirstStartPlacement();
  void WidenColumnsToHeaders(const std::vector<int>& columns);
  FirstStartLayout FirstStart() const;
  // The address column's texts, row by row.
  QStringList Addresses() const;
  void Minimised();
  // The status bar's counts of hosts, lost hosts and unticked ones.
  void ShowCounts();
  // Notes the window's place and size while it is shown normal.
  void RememberNormalGeometry();

  Monitor& monitor_;
  ROptions& options_;
  Desktop& desktop_;
  EventLog& log_;
  WindowPlacement& placement_;
  MainWindowHooks hooks_;
  HostEditor* editor_ = nullptr;

  HostTableModel* model_;
  QTreeView* list_;
  LogPaneWidget* pane_;
  QSplitter* splitter_;
  QLabel* counts_;
  QString countsText_ = "%1 hosts, %2 down, %3 disabled";
  // The list's height to set once the window is shown; -1 when set.
  int pendingListHeight_ = -1;
  QRect lastNormal_;
  QMenu* hostMenu_ = nullptr;
  // The list header's menu: shows or hides the "Parent" column.
  QMenu* headerMenu_ = nullptr;
  QAction* showParent_ = nullptr;
  std::map<std::string, QAction*> actions_;
  QAction* toolPing_ = nullptr;
  QAction* toolStop_ = nullptr;
  QAction* toolEdit_ = nullptr;
  QAction* toolDelete_ = nullptr;
  QTimer refresh_;
  bool closed_ = false;
  bool minimising_ = false;
  std::optional<IniFile> language_;  // the file applied last
};

}  // namespace sentrel
