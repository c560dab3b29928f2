#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include "core/job_lane.h"
#include "core/ui_thread.h"
#include "gui/help_window.h"
#include "gui/log_pane_widget.h"
#include "gui/qt/qt_desktop.h"
#include "gui/qt/qt_socket_notifier.h"
#include "gui/qt/qt_ui_thread.h"
#include "gui/sound_player.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;

// Serves the event loop until `done` or about `limit` has passed.
template <typename Done>
void ServeUntil(Done done, std::chrono::milliseconds limit = 5s) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < limit.count()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(QtUiThread, AnAlarmBoxKeepsServingOtherWorkersHandOffs) {
  QtUiThread ui;
  SoundPlayer sound(nullptr);
  HelpWindow help({});
  QtDesktop desktop(sound, help);
  std::atomic<int> served{0};
  std::atomic<bool> boxOpen{false};
  std::jthread worker;
  // While the box's own loop runs, a worker hands off three steps; the box
  // closes when they have all run (or after a bound).
  QTimer::singleShot(0, [&] {
    boxOpen = true;
    worker = std::jthread([&](std::stop_token stop) {
      for (int i = 0; i < 3; ++i) CallOnUiThread(ui, [&] { ++served; }, stop);
    });
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box && (served == 3)) box->close();
  });
  poll.start(5);
  QTimer::singleShot(5000, [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  desktop.ShowMessage("host lost", "Sentrel", MessageIcon::Warning, MessageButtons::Ok);
  EXPECT_TRUE(boxOpen);
  EXPECT_EQ(served, 3);
}

// An alarm box must be seen while the main window hides in the tray: no
// owner, above every other window.
TEST(QtDesktop, AlertsStandAloneOnTopWhileTheMainWindowIsHidden) {
  SoundPlayer sound(nullptr);
  HelpWindow help({});
  QtDesktop desktop(sound, help);
  QWidget mainWindow;
  desktop.SetOwner(&mainWindow);
  bool seen = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() != "AlertBox" || !w->isVisible()) continue;
      seen = true;
      EXPECT_EQ(w->parentWidget(), nullptr);
      EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
      w->close();
    }
  });
  QTimer::singleShot(5000, [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  desktop.ShowAlert("host lost", "Sentrel", MessageIcon::Error);
  EXPECT_TRUE(seen);
}

// A blocking job (a stalled mail transfer) runs off the window thread: a
// window-thread timer keeps firing and other workers' hand-offs are served.
TEST(QtUiThread, AJobLeavesTheWindowThreadTickingAndServing) {
  QtUiThread ui;
  JobLane lane(ui);
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0;
  qint64 longest = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    longest = std::max(longest, now - last);
    last = now;
  });
  tick.start(10);
  std::atomic<int> served{0};
  std::jthread worker([&](std::stop_token stop) {
    for (int i = 0; i < 5; ++i) {
      CallOnUiThread(ui, [&] { ++served; }, stop);
      std::this_thread::sleep_for(20ms);
    }
  });
  last = clock.elapsed();
  EXPECT_TRUE(lane.Run([](std::stop_token) { std::this_thread::sleep_for(400ms); }));
  EXPECT_GE(clock.elapsed(), 400);
  EXPECT_LT(longest, 100) << "the window thread stood still";
  EXPECT_EQ(served, 5);
}

// Exit, SIGTERM and the end of the session all quit the application, which
// ends every local loop: the job is then aborted and waited for.
TEST(QtUiThread, LeavingTheProgramAbortsTheJobInFlight) {
  QtUiThread ui;
  JobLane lane(ui);
  bool completed = true;
  std::atomic<bool> sawStop{false};
  QElapsedTimer clock;
  QTimer::singleShot(0, [&] {
    QTimer::singleShot(50, [] { QCoreApplication::quit(); });
    clock.start();
    completed = lane.Run([&](std::stop_token stop) {
      for (int i = 0; i < 500 && !stop.stop_requested(); ++i) std::this_thread::sleep_for(10ms);
      sawStop = stop.stop_requested();
    });
  });
  // Run inside exec(), which clears the quit again when it returns.
  QCoreApplication::exec();
  EXPECT_FALSE(completed);
  EXPECT_TRUE(sawStop);
  EXPECT_LT(clock.elapsed(), 2000);
}

TEST(QtUiThread, AWorkerBeingEndedGivesUpAndItsStepNeverRuns) {
  QtUiThread ui;
  std::atomic<bool> result{true};
  std::atomic<bool> stepRan{false};
  std::jthread worker([&](std::stop_token stop) {
    result = CallOnUiThread(ui, [&] { stepRan = true; }, stop);
  });
  std::this_thread::sleep_for(30ms);  // the step is queued; the window thread is busy here
  worker.request_stop();
  worker.join();
  EXPECT_FALSE(result);
  ServeUntil([] { return false; }, 50ms);
  EXPECT_FALSE(stepRan);
  EXPECT_TRUE(CallOnUiThread(ui, [&] { stepRan = true; }, {}));  // inline on the window thread
  EXPECT_TRUE(stepRan);
}

TEST(QtSocketNotifier, ReadinessAndTimeoutsArriveOnTheWindowThreadUntilUnwatched) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, fds), 0);
  QtSocketNotifier notifier;
  std::atomic<int> reads{0};
  std::atomic<int> timeouts{0};
  // Watched from another thread, as a worker's probe would.
  std::thread([&] {
    notifier.Watch(fds[0], [&] {
      char byte;
      while (read(fds[0], &byte, 1) == 1) ++reads;
    });
    notifier.SetTimer(fds[0], 20ms, [&] { ++timeouts; });
  }).join();
  ASSERT_EQ(write(fds[1], "ab", 1), 1);
  ServeUntil([&] { return reads == 1 && timeouts == 1; });
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(timeouts, 1);
  ServeUntil([] { return false; }, 60ms);
  EXPECT_EQ(timeouts, 1);  // a timer fires once

  std::thread([&] { notifier.Unwatch(fds[0]); }).join();
  ASSERT_EQ(write(fds[1], "c", 1), 1);
  ServeUntil([] { return false; }, 60ms);
  EXPECT_EQ(reads, 1);
  close(fds[0]);
  close(fds[1]);
}

TEST(LogPaneWidget, PastTheLimitEachEntryDropsTheTwoOldestLines) {
  LogPaneWidget pane;
  const std::string line(99, 'x');
  int written = 0;
  while (static_cast<std::size_t>(pane.document()->characterCount()) <= kLogPaneLimit + 1) {
    const std::string number = std::to_string(written++);
    pane.Append(number + line.substr(number.size()) + "\r\n");
  }
  const QString before = pane.toPlainText();
  pane.Append("newest\r\n");
  const QString after = pane.toPlainText();
  EXPECT_TRUE(after.startsWith("2"));  // lines "0..." and "1..." went
  EXPECT_TRUE(after.endsWith("newest\n"));
  EXPECT_FALSE(after.contains('\r'));
  EXPECT_EQ(after.size(), before.size() - 2 * 100 + 7);
}

}  // namespace
}  // namespace sentrel
