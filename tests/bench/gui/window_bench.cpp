// Figures of the window thread with 1,024 hosts, on Qt's offscreen platform:
//  - one list refresh while every row changes its light and times, and one
//    while nothing changes;
//  - the longest stall of the window thread while 1,024 workers, checked
//    every second, hand every result over (log level "all events"), with a
//    scripted echo library that answers at once, every host changing its
//    state every few seconds;
//  - the longest stall of the window thread while an alarm mail waits for a
//    server that accepted the connection and never greets, and how long
//    leaving the program then takes to end the transfer.
//
// Usage: sentrel_window_bench [SECONDS]   (default 20)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeView>

#include "core/event_log.h"
#include "core/host_list.h"
#include "core/monitor.h"
#include "core/notify_alarm_channels.h"
#include "notify/dial_up.h"
#include "notify/send_mail.h"
#include "common/clock.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_echo_library.h"
#include "fakes/recording_channels.h"
#include "gui/artwork.h"
#include "gui/host_table_model.h"
#include "gui/log_pane_widget.h"
#include "gui/qt/qt_ui_thread.h"
#include "settings/options.h"

using namespace sentrel;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int kHosts = 1024;

double Ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A 1 ms timer on the window thread: the gap between two of its ticks is how
// long the window thread was busy with something else.
class TickGaps {
 public:
  TickGaps() {
    elapsed_.start();
    gaps_.reserve(100000);
    probe_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe_, &QTimer::timeout, [this] {
      const qint64 now = elapsed_.nsecsElapsed();
      if (last_ != 0) gaps_.push_back(now - last_);
      last_ = now;
    });
    probe_.start(1);
  }
  // The gap at quantile q in milliseconds.
  double At(double q) {
    std::sort(gaps_.begin(), gaps_.end());
    return gaps_.empty() ? 0.0 : gaps_[static_cast<std::size_t>(q * (gaps_.size() - 1))] / 1e6;
  }

 private:
  QElapsedTimer elapsed_;
  qint64 last_ = 0;
  std::vector<qint64> gaps_;
  QTimer probe_;
};

void BenchRefresh() {
  SystemClock clock;
  HostList hosts(clock);
  for (int i = 0; i < kHosts; ++i) {
    auto host = hosts.CreateHost();
    host->HostIP.Set("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    host->Enabled = true;
    host->WasChecked = true;
    host->State = 0;
    hosts.AppendHost(std::move(host));
  }
  HostTableModel model(hosts, StateImages());
  QTreeView view;
  view.setModel(&model);
  view.setUniformRowHeights(true);
  view.resize(600, 800);
  view.show();
  model.ResetFromList();
  QCoreApplication::processEvents();

  std::vector<double> all;
  std::vector<double> none;
  int touched = 0;
  for (int round = 0; round < 20; ++round) {
    for (int i = 0; i < kHosts; ++i) {
      HostEntry& h = hosts.Host(static_cast<std::size_t>(i));
      const bool lost = (round + i) % 3 == 0;
      h.State = lost ? 11010 : 0;
      h.LastRtt = 100 * (round % 5) + i % 7;
      h.LastReplyTime = 10 + round;
      h.AvgTime = 20 + round;
    }
    auto start = Steady::now();
    model.Refresh();
    touched = model.LastRefreshChanges();
    QCoreApplication::processEvents();  // the view repaints what changed
    all.push_back(Ms(Steady::now() - start));
    start = Steady::now();
    model.Refresh();
    QCoreApplication::processEvents();
    none.push_back(Ms(Steady::now() - start));
  }
  std::sort(all.begin(), all.end());
  std::sort(none.begin(), none.end());
  std::printf("refresh, %d rows all changing:  median %.2f ms, max %.2f ms (%d cells touched)\n",
              kHosts, all[all.size() / 2], all.back(), touched);
  std::printf("refresh, %d rows unchanged:     median %.2f ms, max %.2f ms (%d cells touched)\n",
              kHosts, none[none.size() / 2], none.back(), model.LastRefreshChanges());
}

void BenchHandOffs(int seconds) {
  const std::string folder = std::filesystem::temp_directory_path() / "sentrel-window-bench";
  std::filesystem::create_directories(folder);
  SystemClock clock;
  QtUiThread ui;
  testing::FakeDesktop desktop;
  ROptions options;
  options.PathToData = folder;
  options.LogDetail = 2;
  LogPaneWidget pane;
  pane.resize(600, 300);
  pane.show();
  EventLog log;
  log.SetPane(&pane);
  auto library = std::make_shared<testing::ScriptedEchoLibrary>();
  library->RecordRequests(false);
  IcmpContext icmp;
  icmp.mode = IcmpMode::Library;
  icmp.library = library;
  icmp.desktop = &desktop;
  testing::RecordingChannels channels;
  Monitor monitor({clock, ui, desktop, options, log, icmp, channels, DateTextFormats{}});
  for (int i = 0; i < kHosts; ++i) {
    auto host = monitor.Hosts().CreateHost();
    host->HostIP.Set("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    host->PingInterval = 1;
    host->Enabled = true;
    monitor.Hosts().AppendHost(std::move(host));
  }
  monitor.SetPinging(true);

  // Every host answers for about two of its checks and then fails two:
  // each result hands a log line over, every change fires an alarm.
  library->SetRule([](uint32_t, const IcmpEchoOptions&) {
    const auto second = std::chrono::duration_cast<std::chrono::seconds>(
        Steady::now().time_since_epoch()).count();
    if (second % 4 < 2) return testing::ScriptedEchoLibrary::Answer{IcmpEchoReply{0, 0, 1}, {}};
    return testing::ScriptedEchoLibrary::Answer{std::nullopt, {}};
  });
  TickGaps gaps;
  const long before = library->RequestCount();
  QTimer::singleShot(seconds * 1000, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
  const long checks = library->RequestCount() - before;
  monitor.Shutdown();
  std::printf("hand-offs: %ld requests in %d s (%.0f per second), hosts changing state; window "
              "thread between two 1 ms timer ticks: p50 %.1f ms, p99 %.1f ms, p99.9 %.1f ms, "
              "longest %.1f ms\n",
              checks, seconds, static_cast<double>(checks) / seconds, gaps.At(0.5),
              gaps.At(0.99), gaps.At(0.999), gaps.At(1.0));
  std::filesystem::remove_all(folder);
}

// A listening socket that nobody accepts from: the kernel completes the
// connection, and no greeting ever comes.
void BenchStalledTransfer(int seconds) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::printf("stalled transfer: no listening socket\n");
    return;
  }
  SystemClock clock;
  QtUiThread ui;
  testing::FakeDesktop desktop;
  ROptions options;
  options.ServerName = "127.0.0.1";
  options.Port = ntohs(address.sin_port);
  options.From = "bench@monitor.test";
  EventLog log;
  DialUp dialUp{Nmcli(std::string())};
  MailContext mail{desktop, clock, dialUp, false, {}, 60000};
  NotifyAlarmChannels channels(options, mail, desktop, ui, log);

  TickGaps gaps;
  Steady::time_point left;
  Steady::time_point returned;
  QTimer::singleShot(0, [&] {
    channels.SendMail("ops@example.test", "host lost\r\n", "lost");
    returned = Steady::now();
    QCoreApplication::quit();
  });
  QTimer::singleShot(seconds * 1000, [&] {
    left = Steady::now();
    channels.Leave();
  });
  QCoreApplication::exec();
  std::printf("stalled transfer for %d s: window thread between two 1 ms timer ticks: p50 %.1f ms, "
              "p99 %.1f ms, longest %.1f ms; leaving ended the transfer in %.1f ms\n",
              seconds, gaps.At(0.5), gaps.At(0.99), gaps.At(1.0), Ms(returned - left));
  close(listener);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  InitArtwork();
  BenchRefresh();
  BenchHandOffs(seconds);
  BenchStalledTransfer(seconds);
  return 0;
}
