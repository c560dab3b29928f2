#include "gui/main_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QTreeView>

#include "core/host_list.h"
#include "core/monitor.h"
#include "fakes/test_files.h"
#include "gui/host_table_model.h"
#include "gui/list_measures.h"
#include "gui/log_pane_widget.h"
#include "probes/address.h"
#include "settings/ini_file.h"
#include "unit/core/engine_test_env.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;

// The host dialog as a test drives it: confirms, after `fill` has set fields.
class ScriptedEditor final : public HostEditor {
 public:
  std::function<void(HostEntry&)> fill;
  int calls = 0;
  int seenInterval = 0;
  std::string seenAddress;
  bool EditHost(HostEntry& host) override {
    ++calls;
    seenInterval = host.PingInterval;
    seenAddress = host.HostIP.Get();
    if (fill) fill(host);
    return true;
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.options.PathToData = dir.Path();
    monitor = std::make_unique<Monitor>(env.Services(WorkerTiming{2ms, 2ms, 5}));
    MainWindowHooks hooks;
    hooks.setTrayImage = [this](TrayImage image) { tray.push_back(image); };
    hooks.showHistory = [this](std::optional<std::size_t> row) { historyRows.push_back(row); };
    window = std::make_unique<MainWindow>(*monitor, env.options, env.desktop, env.log, placement,
                                          hooks);
    window->SetHostEditor(&editor);
    window->Start();
  }
  void TearDown() override {
    window.reset();
    monitor.reset();
  }

  // Adds hosts through the Add command; `name` empty keeps the address.
  void AddThroughDialog(const std::string& ip, const std::string& name, int interval = 60,
                        bool isDefault = false) {
    editor.fill = [=](HostEntry& h) {
      h.HostIP.Set(ip);
      h.HostName.Set(name);
      h.PingInterval = interval;
      h.UseAsDefault = isDefault;
    };
    window->Add();
  }
  std::string Cell(int row, int column) { return window->Model().Text(row, column).toStdString(); }
  QString Header(int column) {
    return window->Model().headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  }
  QTreeView& List() { return *window->findChild<QTreeView*>("HostList"); }
  void ShowWindow() {
    window->show();
    QApplication::processEvents();
  }
  int Image(int row) {
    return window->Model().index(row, 0).data(HostTableModel::kImageRole).toInt();
  }

  testing::TempDir dir;
  testing::EngineEnv env;
  WindowPlacement placement;
  std::vector<TrayImage> tray;
  std::vector<std::optional<std::size_t>> historyRows;
  ScriptedEditor editor;
  std::unique_ptr<Monitor> monitor;
  std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, CommandsFollowTheRowsAndThePingingSwitch) {
  CommandState c = window->Commands();
  EXPECT_FALSE(c.edit);
  EXPECT_TRUE(c.ping);
  EXPECT_FALSE(c.stop);
  EXPECT_FALSE(window->Action("EditItem")->isEnabled());
  EXPECT_TRUE(window->Action("AddItem")->isEnabled());
  // Nothing to trace on an empty list.
  EXPECT_FALSE(window->Action("TraceNowItem")->isEnabled());

  AddThroughDialog("10.0.0.1", "one");
  EXPECT_EQ(editor.seenAddress, "");  // a new host has no address until one is typed
  EXPECT_TRUE(window->Action("DeleteItem")->isEnabled());
  EXPECT_TRUE(window->Action("TraceNowItem")->isEnabled());
  EXPECT_TRUE(window->Action("PingNowItem")->isEnabled());
  // Add saved the list at once (UpdateCommands saves a modified list).
  EXPECT_NE(testing::ReadFile(dir.Path() + "/sentrel.xml").find("10.0.0.1"), std::string::npos);

  window->SetPinging(true);
  EXPECT_FALSE(window->Action("PingItem")->isEnabled());
  EXPECT_TRUE(window->Action("StopItem")->isEnabled());
  EXPECT_EQ(tray.back(), TrayImage::Checking);
  window->SetPinging(false);
  EXPECT_TRUE(window->Action("PingItem")->isEnabled());
  EXPECT_FALSE(window->Action("StopItem")->isEnabled());
  EXPECT_EQ(tray.back(), TrayImage::Stopped);
  EXPECT_FALSE(window->Action("StopWAVItem")->isEnabled());

  window->SelectRow(0);
  window->Delete();
  EXPECT_EQ(window->Model().rowCount(), 0);
  EXPECT_FALSE(window->Action("EditItem")->isEnabled());
  EXPECT_FALSE(window->Action("PingNowItem")->isEnabled());
}

TEST_F(MainWindowTest, HistoryOpensForTheSelectedRowFromBothMenus) {
  // An empty list has no history to show.
  EXPECT_FALSE(window->Action("HistoryItem")->isEnabled());
  window->History();
  AddThroughDialog("10.0.0.1", "one");
  AddThroughDialog("10.0.0.2", "two");
  window->SelectRow(1);
  ASSERT_NE(window->Action("HostHistoryItem"), nullptr);
  window->Action("HostHistoryItem")->trigger();
  EXPECT_EQ(historyRows, (std::vector<std::optional<std::size_t>>{1}));
  EXPECT_TRUE(window->Action("HistoryItem")->isEnabled());
}

TEST_F(MainWindowTest, AddAtTheLimitWarnsAndOpensNoDialog) {
  HostList& hosts = monitor->Hosts();
  while (!hosts.Full()) hosts.AppendHost(hosts.CreateHost());
  window->Model().ResetFromList();
  window->Add();
  EXPECT_EQ(editor.calls, 0);
  EXPECT_EQ(window->Model().rowCount(), 1024);
  EXPECT_EQ(env.BoxesCaptioned("Warning!!!").size(), 1u);
}

TEST_F(MainWindowTest, DeleteBelowTheDefaultRowKeepsTheDefaultHost) {
  AddThroughDialog("10.0.0.1", "a");
  AddThroughDialog("10.0.0.2", "b", 77, true);
  AddThroughDialog("10.0.0.3", "c");
  ASSERT_EQ(monitor->Hosts().DefaultIndex(), 2);
  window->SelectRow(2);
  window->Delete();
  EXPECT_EQ(window->SelectedRow(), 1);
  EXPECT_EQ(monitor->Hosts().DefaultIndex(), 2);
  editor.fill = nullptr;
  window->Add();
  EXPECT_EQ(editor.seenInterval, 77);  // the dialog opened with the default host's settings
}

TEST_F(MainWindowTest, HeaderClicksSortAsTextAndTheDefaultFollowsItsHost) {
  AddThroughDialog("10.0.0.1", "20");
  AddThroughDialog("10.0.0.2", "b", 77, true);
  AddThroughDialog("10.0.0.3", "100");
  AddThroughDialog("10.0.0.4", "A");
  HostTableModel& model = window->Model();

  model.SortByHeader(1);
  EXPECT_EQ(Cell(0, 1) + Cell(1, 1) + Cell(2, 1) + Cell(3, 1), "10020Ab");
  EXPECT_EQ(model.Sort().HeaderImage(1), kHeaderAscending);
  model.SortByHeader(1);
  EXPECT_EQ(Cell(0, 1) + Cell(1, 1) + Cell(2, 1) + Cell(3, 1), "bA20100");
  EXPECT_EQ(model.Sort().HeaderImage(1), kHeaderDescending);
  EXPECT_EQ(monitor->Hosts().DefaultIndex(), 1);
  EXPECT_EQ(monitor->Hosts().Host(0).HostName.Get(), "b");

  model.SortByHeader(0);
  EXPECT_EQ(model.Sort().HeaderImage(0), kHeaderAscending);
  EXPECT_EQ(model.Sort().HeaderImage(1), kHeaderBlank);
  EXPECT_EQ(Cell(0, 0), "10.0.0.1");
  EXPECT_EQ(monitor->Hosts().DefaultIndex(), 2);

  // A host added now goes to its place by address, and Add copies the right host.
  editor.fill = [](HostEntry& h) { h.HostIP.Set("10.0.0.25"); };
  window->Add();
  EXPECT_EQ(editor.seenInterval, 77);
  EXPECT_EQ(Cell(2, 0), "10.0.0.25");
  EXPECT_EQ(window->SelectedRow(), 2);
  EXPECT_EQ(monitor->Hosts().Host(2).HostIP.Get(), "10.0.0.25");
}

TEST_F(MainWindowTest, RefreshShowsLightsLostAndGreyAndSwitchesTheTrayImage) {
  const uint32_t lostAddress = ResolveAddress("10.0.0.2").V4Value();
  env.library->SetRule([lostAddress](uint32_t address, const IcmpEchoOptions&) {
    if (address == lostAddress) return testing::ScriptedEchoLibrary::Answer{std::nullopt, {}};
    return testing::ScriptedEchoLibrary::Answer{IcmpEchoReply{address, kIpSuccess, 3}, {}};
  });
  AddThroughDialog("10.0.0.1", "up");
  AddThroughDialog("10.0.0.2", "down");
  AddThroughDialog("10.0.0.3", "off");
  HostTableModel& model = window->Model();
  model.setData(model.index(0, 0), Qt::Checked, Qt::CheckStateRole);
  model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole);
  window->SetPinging(true);

  const auto deadline = std::chrono::steady_clock::now() + 10s;
  HostList& hosts = monitor->Hosts();
  // A host checked once but without its first result yet shows "Lost": wait
  // for the results themselves.
  while ((hosts.Host(0).State != 0 || hosts.Host(1).State <= 0) &&
         std::chrono::steady_clock::now() < deadline) {
    env.ui.RunFor(5ms);
  }
  window->RefreshList();
  EXPECT_EQ(Image(0), 1);
  EXPECT_EQ(Cell(0, 2), "3");
  EXPECT_EQ(Cell(0, 3), "3");
  EXPECT_EQ(Image(1), 5);
  EXPECT_EQ(Cell(1, 2), "Lost");
  EXPECT_EQ(Image(2), 0);
  EXPECT_EQ(Cell(2, 2), "_");
  EXPECT_EQ(tray.back(), TrayImage::Lost);
  const QLabel& counts = *window->findChild<QLabel*>("HostCounts");
  EXPECT_EQ(counts.text(), "3 hosts, 1 down, 1 disabled");
  window->RefreshList();
  EXPECT_EQ(model.LastRefreshChanges(), 0);  // nothing changed, nothing touched
  // The lost host's word and the counts follow the language at once.
  window->ApplyLanguage(IniFile::Parse("[MainForm]\nLost=Verloren\nStatusCounts=%1 Hosts, %2 aus\n"));
  EXPECT_EQ(Cell(1, 2), "Verloren");
  EXPECT_EQ(Cell(1, 3), "Verloren");
  EXPECT_EQ(counts.text(), "3 Hosts, 1 aus");
  window->RefreshList();
  EXPECT_EQ(Cell(1, 2), "Verloren");
  window->ApplyLanguage(std::nullopt);

  // Stopped: the rows keep their last state.
  window->SetPinging(false);
  window->RefreshList();
  EXPECT_EQ(Image(1), 5);
  EXPECT_EQ(tray.back(), TrayImage::Stopped);
}

// The "Parent" column waits for the header's menu; it names the parent, and
// an edit that moves the parent to a new address takes its hosts along.
TEST_F(MainWindowTest, ParentColumnIsShownOnRequestAndFollowsAnEditedParent) {
  AddThroughDialog("10.0.0.1", "router");
  AddThroughDialog("10.0.0.2", "");
  monitor->Hosts().Host(1).Parent.Set("10.0.0.1");
  window->Model().ResetFromList();
  EXPECT_TRUE(List().isColumnHidden(HostTableModel::kParentColumn));
  QAction& show = *window->findChild<QAction*>("ShowParentColumn");
  show.setChecked(true);
  EXPECT_FALSE(List().isColumnHidden(HostTableModel::kParentColumn));
  EXPECT_EQ(Cell(1, HostTableModel::kParentColumn), "router");
  window->ApplyLanguage(IniFile::Parse("[MainForm]\nHeader6=Elternhost\n"));
  EXPECT_EQ(show.text(), "Elternhost");
  window->ApplyLanguage(std::nullopt);

  editor.fill = [](HostEntry& h) { h.HostName.Set(""); h.HostIP.Set("10.0.0.9"); };
  window->SelectRow(0);
  window->Edit();
  EXPECT_EQ(monitor->Hosts().Host(1).Parent.Get(), "10.0.0.9");
  EXPECT_EQ(Cell(1, HostTableModel::kParentColumn), "10.0.0.9");
}

TEST_F(MainWindowTest, LanguageFileCaptionsHeadersAndToolbarTooltips) {
  window->ApplyLanguage(IniFile::Parse(
      "[MainForm]\nheader1=Adresse\nHeader3=Mittl. Zeit\nDeleteBtn=Host l\xC3\xB6schen\n"));
  EXPECT_EQ(Header(0), "Adresse");
  EXPECT_EQ(Header(1), " Computer name or description");
  EXPECT_EQ(Header(2), "Mittl. Zeit");
  EXPECT_EQ(Header(4), "Description");  // a missing key keeps the built-in text
  EXPECT_EQ(window->Action("DeleteBtn")->toolTip(), QString::fromUtf8("Host l\xC3\xB6schen"));
  EXPECT_EQ(window->Action("AddBtn")->toolTip(), "Add new host");
  // Without a file every caption is English again.
  window->ApplyLanguage(std::nullopt);
  EXPECT_EQ(Header(0), "IP");
  EXPECT_EQ(window->Action("DeleteBtn")->toolTip(), "Delete host");
}

TEST_F(MainWindowTest, FirstStartShowsTwelveRowsAndEveryColumnWhole) {
  ShowWindow();
  AddThroughDialog("255.255.255.255", "a host");
  QTreeView& list = List();
  EXPECT_GE(list.viewport()->height(), kFirstStartRows * list.sizeHintForRow(0));
  EXPECT_GE(list.header()->sectionSize(0),
            CellWidth(list, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true));
  for (int c = 0; c < HostTableModel::kColumns; ++c)
    EXPECT_GE(list.header()->sectionSize(c), list.header()->sectionSizeHint(c)) << c;
  // The list takes about two thirds of the height it shares with the log.
  const double share = static_cast<double>(list.height()) /
                       (list.height() + window->Pane().height());
  EXPECT_NEAR(share, 2.0 / 3, 0.05);
  // A taller window shows more rows; the log pane keeps its height.
  const int pane = window->Pane().height();
  const int rows = list.height();
  window->resize(window->width(), window->height() + 90);
  QApplication::processEvents();
  EXPECT_EQ(window->Pane().height(), pane);
  EXPECT_EQ(list.height(), rows + 90);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_NEAR(window->geometry().center().x(), screen.center().x(), 2);
}

// A stored placement, and hosts in the data file before the start.
class MainWindowPlacedTest : public MainWindowTest {
 protected:
  void SetUp() override {
    testing::PutFile(dir.Path() + "/sentrel.xml",
                     "<H>\r\n<HIP>255.255.255.255</HIP>\r\n<HN>wide</HN>\r\n</H>\r\n"
                     "<H>\r\n<HIP>10.0.0.1</HIP>\r\n<HN>narrow</HN>\r\n</H>\r\n");
    placement.PlacementLoaded = true;
    placement.Left = 20, placement.Top = 20, placement.Width = 600, placement.Height = 400;
    placement.ListHeight = 200;
    placement.ColWidth = {40, 120, 70, 60, 50};
    placement.Visible = true;
    MainWindowTest::SetUp();
  }
};

TEST_F(MainWindowPlacedTest, AddressColumnFitsOnLoadAndTheLastColumnTakesTheRest) {
  ShowWindow();
  QHeaderView& header = *List().header();
  const int address = CellWidth(List(), "255.255.255.255", true);
  EXPECT_EQ(header.sectionSize(0), address);
  EXPECT_EQ(header.sectionSize(1), 120);
  EXPECT_EQ(header.sectionSize(2), 70);
  EXPECT_EQ(header.sectionSize(3), 60);
  const auto filled = [&] {
    int sum = 0;
    for (int c = 0; c < HostTableModel::kColumns; ++c) sum += header.sectionSize(c);
    return sum;
  };
  EXPECT_EQ(filled(), List().viewport()->width());
  window->resize(window->width() + 150, window->height());
  QApplication::processEvents();
  EXPECT_EQ(filled(), List().viewport()->width());
  EXPECT_EQ(header.sectionSize(1), 120);

  // The operator's narrower address column stays: only the load widens it.
  header.resizeSection(0, 30);
  AddThroughDialog("255.255.255.254", "wider still");
  window->RefreshList();
  EXPECT_EQ(header.sectionSize(0), 30);
  window->CapturePlacement();
  EXPECT_EQ(placement.ColWidth[0], 30);
}

TEST_F(MainWindowPlacedTest, ALongerCaptionWidensItsColumnAndLeavesTheOthers) {
  ShowWindow();
  QHeaderView& header = *List().header();
  window->ApplyLanguage(IniFile::Parse(
      "[MainForm]\nHeader3=\xD0\xA1\xD1\x80\xD0\xB5\xD0\xB4. \xD0\xB2\xD1\x80\xD0\xB5"
      "\xD0\xBC\xD1\x8F \xD0\xBE\xD1\x82\xD0\xB2\xD0\xB5\xD1\x82\xD0\xB0\n"));
  EXPECT_GE(header.sectionSize(2), header.sectionSizeHint(2));
  EXPECT_GT(header.sectionSize(2), 70);
  // A caption that did not change keeps the operator's width, cut or not.
  EXPECT_EQ(header.sectionSize(3), 60);
}

}  // namespace
}  // namespace sentrel
