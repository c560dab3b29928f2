#include "gui/history_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include "fakes/fake_clock.h"
#include "fakes/test_files.h"
#include "gui/graph_scale.h"
#include "gui/history_graph.h"
#include "history/history_store.h"
#include "history/history_time.h"

namespace sentrel {
namespace {

TEST(GraphScale, LightBandsReadLikeTheList) {
  const auto bands = LightBands({10, 20, 30, 40}, 50);
  ASSERT_EQ(bands.size(), 5u);
  EXPECT_EQ(bands[1].fromMs, 10);
  EXPECT_EQ(bands[1].toMs, 20);
  EXPECT_EQ(bands[1].light, 2);
  EXPECT_EQ(bands[4].light, 1) << "above the last limit the list shows light 1";
  const auto clipped = LightBands({1250, 1666, 2500, 5000}, 20);
  ASSERT_EQ(clipped.size(), 1u);
  EXPECT_EQ(clipped[0].toMs, 20);
  EXPECT_EQ(LightBands({30, 10, 40, 50}, 60).size(), 4u) << "a limit below the one before is empty";
  // Highest round trip, then the top and the step of the axis.
  for (auto [highest, top, step] : {std::tuple{0.0, 1, 1}, {1.0, 2, 1}, {9.0, 10, 5}, {32.0, 40, 10},
                                    {47.0, 60, 20}, {180.0, 200, 50}, {4000.0, 6000, 2000}}) {
    EXPECT_EQ(RoundTripAxis(highest).topMs, top) << highest;
    EXPECT_EQ(RoundTripAxis(highest).stepMs, step) << highest;
  }
}

TEST(GraphScale, TimeTicksFallOnWholeStepsOfLocalTime) {
  const int64_t ten = MinuteOfSecond(HistorySecond(EncodeDateTime({2026, 3, 2, 10, 3, 0, 0})));
  const auto hour = TimeTicks(ten, ten + 60);
  ASSERT_EQ(hour.size(), 6u);
  EXPECT_EQ(hour[0].label, "10:10");
  const auto week = TimeTicks(ten, ten + 7 * 1440);
  ASSERT_EQ(week.size(), 7u);
  EXPECT_EQ(week[0].label, "Tue 03");
}

// A prepared history on 2 March 2026: the router (on the list, limits 5,
// 10, 20, 40 ms) answers every minute from 10:00 to 11:59 in 4 to 9 ms,
// except 10:30-10:34 when it was lost (with a trace); 10.0.0.9 has left
// the list. The window looks at it at 12:00.
class HistoryWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::FakeClock writer(At(10, 0));
    HistoryStoreSettings settings;
    settings.path = path;
    HistoryStore store(settings, writer);
    int32_t state = -1;
    for (int minute = 0; minute < 120; ++minute) {
      const bool down = minute >= 30 && minute < 35;
      const DateTime when = At(10 + minute / 60, minute % 60);
      const int32_t now = down ? 11010 : 0;
      store.Record({router, when, down ? 11010u : 0u, static_cast<uint32_t>(4 + minute % 6), true,
                    now, state});
      if (minute == 30) store.RecordTrace(router, when, "=== Trace router ===\r\n1. 1ms 10.0.0.254\r\n");
      state = now;
    }
    store.Record({{"10.0.0.9", ""}, At(11, 0), 0, 3, true, 0, -1});
    writer.Set(At(12, 5));
    store.Flush();
  }
  static DateTime At(int hour, int minute) {
    return EncodeDateTime({2026, 3, 2, hour, minute, 0, 0});
  }
  HistoryWindowServices Services() {
    return {path, clock, [this] {
              return std::vector<ListedHost>{{router, {5, 10, 20, 40}}};
            }};
  }

  testing::TempDir dir;
  std::string path = HistoryStore::PathIn(dir.Path());
  testing::FakeClock clock{At(12, 0)};
  const HistoryHost router{"10.0.0.1", "router"};
};

TEST_F(HistoryWindowTest, DayShowsTheFiguresTheOutageAndItsTrace) {
  HistoryWindow window(Services());
  window.ShowHost(router);
  window.show();
  EXPECT_EQ(window.windowTitle(), "History - 10.0.0.1 (router)");
  EXPECT_EQ(window.Period(), HistoryPeriod::Day);
  EXPECT_EQ(window.FigureText("Loss").toStdString(), "4.17 % (5 of 120)");
  EXPECT_EQ(window.FigureText("Availability").toStdString(), "95.83 %");
  EXPECT_EQ(window.FigureText("Range").toStdString(), "4 - 9 ms");
  EXPECT_EQ(window.FigureText("Outages").toStdString(), "1");
  EXPECT_EQ(window.FigureText("Outage time").toStdString(), "0:05:00");

  QTableWidget& table = window.OutageTable();
  ASSERT_EQ(table.rowCount(), 1);
  EXPECT_EQ(table.item(0, 0)->text(), "2026-03-02 10:30:00");
  EXPECT_EQ(table.item(0, 1)->text(), "2026-03-02 10:35:00");
  EXPECT_EQ(table.item(0, 3)->text(), "11010 timed out");
  EXPECT_EQ(table.item(0, 4)->text(), "1") << "hops of the trace";
  table.selectRow(0);
  EXPECT_EQ(window.findChild<QPlainTextEdit*>("TraceText")->toPlainText(),
            "=== Trace router ===\n1. 1ms 10.0.0.254\n");
  window.Reload();  // the minute's refresh
  EXPECT_EQ(window.findChild<QPlainTextEdit*>("TraceText")->toPlainText(),
            "=== Trace router ===\n1. 1ms 10.0.0.254\n")
      << "the refresh keeps the outage being read";

  EXPECT_EQ(window.Graph().Axis().topMs, 10);
  EXPECT_EQ(window.Graph().Data().lightTimes, (std::array<int32_t, 4>{5, 10, 20, 40}));
  // The lost minutes are marked in the lost colour along the bottom.
  window.Graph().resize(720, 240);
  const QImage shot = window.Graph().grab().toImage();
  // The plot's margins follow the font: the lower half is searched.
  int red = 0;
  for (int y = shot.height() / 2; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      red += c.red() > 200 && c.green() < 120 && c.blue() < 120 ? 1 : 0;
    }
  }
  EXPECT_GT(red, 0);
  // Before 10:00 the host was not watched: grey there, not a light's colour.
  const QColor early = shot.pixelColor(shot.width() / 4, shot.height() * 3 / 5);
  EXPECT_LT(std::abs(early.green() - early.red()), 10) << early.name().toStdString();
  EXPECT_LT(early.green(), 235) << "not the plain background";
  window.show();
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&window.OutageTable(), &escape);
  EXPECT_FALSE(window.isVisible());  // Escape closes it
}

// 10.0.0.7 was added at 11:00 and has never answered: nothing of it is
// available, the time before it was added is neither good nor counted, and
// its outage runs to now at its true length until its checks stop.
TEST_F(HistoryWindowTest, AHostThatNeverAnsweredIsNeverAvailable) {
  const HistoryHost silent{"10.0.0.7", ""};
  {
    testing::FakeClock writer(At(11, 0));
    HistoryStoreSettings settings;
    settings.path = path;
    HistoryStore store(settings, writer);
    for (int minute = 0; minute < 60; ++minute) {
      store.Record({silent, At(11, minute), 11010, 0, true, 11010, minute == 0 ? -1 : 11010});
    }
    writer.Set(At(12, 5));
    store.Flush();
  }
  HistoryWindow window(Services());
  window.ShowHost(silent);
  EXPECT_EQ(window.FigureText("Availability").toStdString(), "0.00 %");
  EXPECT_EQ(window.FigureText("Loss").toStdString(), "100.00 % (60 of 60)");
  EXPECT_EQ(window.FigureText("Monitored").toStdString(),
            "1:00:00 of 23:58:00 (22:58:00 not monitored, not counted)");
  QTableWidget& table = window.OutageTable();
  ASSERT_EQ(table.rowCount(), 1);
  EXPECT_EQ(table.item(0, 1)->text(), "going on");
  EXPECT_EQ(table.item(0, 2)->text(), "1:00:00") << "its length so far, not a lower bound";
  EXPECT_EQ(window.FigureText("Outage time").toStdString(), "1:00:00");

  // Before 11:00 the graph is grey, never a light's green.
  window.Graph().resize(720, 240);
  const QImage shot = window.Graph().grab().toImage();
  for (const int x : {shot.width() / 4, shot.width() * 3 / 4}) {
    const QColor c = shot.pixelColor(x, shot.height() * 3 / 5);
    EXPECT_LT(std::abs(c.green() - c.red()), 10) << x << " " << c.name().toStdString();
    EXPECT_LT(c.green(), 235) << x << " not the plain background";
  }

  // Half an hour without checks: known only up to the last one.
  clock.Set(At(12, 30));
  window.Reload();
  EXPECT_EQ(table.item(0, 1)->text(), "no checks since 2026-03-02 12:00:00");
  EXPECT_EQ(table.item(0, 2)->text(), "at least 1:00:00");
  EXPECT_EQ(window.FigureText("Availability").toStdString(), "0.00 %");
}

TEST_F(HistoryWindowTest, PeriodsHostsThatLeftTheListAndTheExport) {
  HistoryWindow window(Services());
  window.ShowHost(router);
  window.SetPeriod(HistoryPeriod::Hour);
  EXPECT_EQ(window.Graph().Data().buckets.size(), 59u) << "11:01 to 11:59; 12:00 has nothing yet";
  EXPECT_EQ(window.FigureText("Outages"), "0");
  window.SetPeriod(HistoryPeriod::Month);
  ASSERT_EQ(window.Graph().Data().buckets.size(), 2u) << "hour rows";
  EXPECT_EQ(window.Graph().Data().buckets[0].stats.lostMinutes, 5);

  const std::string file = dir.Path() + "/month.csv";
  std::string error;
  ASSERT_TRUE(window.ExportCsv(file, &error)) << error;
  const std::string csv = testing::ReadFile(file);
  EXPECT_EQ(csv.rfind("start,minutes,requests", 0), 0u);
  EXPECT_NE(csv.find("\r\n2026-03-02 10:00,60,60,55,8.33,4,"), std::string::npos) << csv;
  EXPECT_FALSE(window.ExportCsv(dir.Path() + "/no/such/folder/x.csv", &error));

  auto* chooser = window.findChild<QComboBox*>("HistoryHost");
  ASSERT_EQ(chooser->count(), 2);
  EXPECT_EQ(chooser->itemText(0).toStdString(), "10.0.0.1 (router)");
  EXPECT_EQ(chooser->itemText(1).toStdString(), "10.0.0.9  (not in the list)");
  window.ShowHost(HistoryHost{"10.0.0.9", ""});
  EXPECT_EQ(window.FigureText("Loss").toStdString(), "0.00 % (0 of 1)");
  EXPECT_EQ(window.Graph().Data().lightTimes[0], 1250) << "built-in limits off the list";
}

TEST_F(HistoryWindowTest, ALanguageFileTranslatesWhatTheWindowPutsTogether) {
  HistoryWindow window(Services());
  window.show();
  window.ApplyLanguage(IniFile::Parse(
      "[HistoryForm]\r\nHistoryForm=Verlauf\r\nLossLabel=Verlust:\r\nStartColumn=Beginn\r\n"
      "LossCount=(von %2 fehlten %1)\r\nNotInList=\r\nPeriodWeek=Woche\r\n"));
  window.ShowHost(router);
  EXPECT_EQ(window.windowTitle(), "Verlauf - 10.0.0.1 (router)");
  const auto label = [&window](const char* key) {
    const auto* found = window.findChild<QLabel*>(key);
    return found ? found->text() : QString("no label ") + key;
  };
  EXPECT_EQ(label("LossLabel"), "Verlust:");
  EXPECT_EQ(label("JitterLabel"), "Jitter:") << "built-in";
  EXPECT_EQ(label("OutageTimeLabel"), "Outage time:");
  EXPECT_EQ(window.findChild<QPushButton*>("PeriodWeek")->text(), "Woche");
  EXPECT_EQ(window.OutageTable().horizontalHeaderItem(0)->text(), "Beginn");
  EXPECT_EQ(window.FigureText("Loss").toStdString(), "4.17 % (von 120 fehlten 5)");
  EXPECT_EQ(window.findChild<QComboBox*>("HistoryHost")->itemText(1).toStdString(), "10.0.0.9  ");

  window.ApplyLanguage(std::nullopt);
  EXPECT_EQ(window.windowTitle(), "History - 10.0.0.1 (router)");
  EXPECT_EQ(window.OutageTable().horizontalHeaderItem(0)->text(), "Start");
}

TEST_F(HistoryWindowTest, WithoutADatabaseTheWindowSaysSoInItsLanguage) {
  const std::string none = dir.Path() + "/none.db";
  HistoryWindow window({none, clock, {}});
  window.ApplyLanguage(IniFile::Parse(
      "[HistoryForm]\r\nNoRecordsYet=Noch kein Verlauf (%1).\r\nHistoryUnreadable=Unlesbar:\r\n"));
  window.ShowHost(router);
  EXPECT_TRUE(window.Graph().Data().buckets.empty());
  EXPECT_EQ(window.FigureText("Outages"), "0");
  const QLabel& state = *window.findChild<QLabel*>("HistoryState");
  EXPECT_EQ(state.text().toStdString(), "Noch kein Verlauf (" + none + ").");
  std::string error;
  EXPECT_FALSE(window.ExportCsv(dir.Path() + "/out.csv", &error));
  EXPECT_EQ(error, "Noch kein Verlauf (" + none + ").");

  // A file that is there but no history keeps the reader's reason.
  testing::PutFile(none, "not a database");
  window.ShowHost(router);
  EXPECT_TRUE(state.text().startsWith("Unlesbar: " + QString::fromStdString(none) + ": "))
      << state.text().toStdString();
}

}  // namespace
}  // namespace sentrel
