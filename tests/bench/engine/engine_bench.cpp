// Runs the monitoring engine on 1024 Always hosts with a ping interval of one
// second against loopback addresses and prints what it achieved: checks per
// second, the spread of the interval between two checks of one host, CPU
// seconds per minute, peak memory and threads.
//
// Usage: sentrel_engine_bench [SECONDS]   (default 60)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/clock.h"
#include "core/alarm_channels.h"
#include "core/event_log.h"
#include "core/monitor.h"
#include "core/ui_thread.h"
#include "platform/icmp_library.h"
#include "platform/raw_icmp_socket.h"
#include "platform/sockets.h"
#include "settings/options.h"

using namespace sentrel;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int kHosts = 1024;

class QuietDesktop final : public Desktop {
 public:
  MessageResult ShowMessage(const std::string& text, const std::string&, MessageIcon,
                            MessageButtons) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return MessageResult::Yes;
  }
  void PlaySound(const std::string&, bool) override {}
  void StopSounds() override {}
  void Beep() override {}
  void StartProgram(const std::string&, const std::string&) override {}
  void ShowHelp(int, int) override {}
};

class NoChannels final : public AlarmChannels {
 public:
  void SendNetMessage(const std::string&, const std::string&, const std::string&) override {}
  void SendMail(const std::string&, const std::string&, const std::string&) override {}
};

// Every status line reaches the pane on the window thread; the address in it
// tells which host was checked.
class CheckRecorder final : public LogPane {
 public:
  void Append(const std::string& text) override {
    const auto now = Steady::now();
    // "<date> <time> <address> (<name>) is ..."
    const auto open = text.find(" (");
    const auto start = text.rfind(' ', open - 1);
    if (open == std::string::npos || start == std::string::npos) return;
    checks_[text.substr(start + 1, open - start - 1)].push_back(now);
  }
  const std::map<std::string, std::vector<Steady::time_point>>& Checks() const { return checks_; }

 private:
  std::map<std::string, std::vector<Steady::time_point>> checks_;
};

std::string HostAddress(int i) {
  return "127.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long StatusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(name) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
  return values[index];
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
  StartSockets();

  const auto folder = std::filesystem::temp_directory_path() / "sentrel-engine-bench";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  {
    std::ofstream file(folder / "sentrel.xml", std::ios::binary);
    for (int i = 0; i < kHosts; ++i) {
      file << "<H>\r\n<CHK>T</CHK>\r\n<HIP>" << HostAddress(i) << "</HIP>\r\n<PI>1</PI>\r\n"
           << "<TO>1000</TO>\r\n</H>\r\n";
    }
  }

  SystemClock clock;
  TaskQueueUiThread ui;
  QuietDesktop desktop;
  ROptions options;
  options.PathToData = folder.string();
  options.PathToLog = folder.string();
  options.LogDetail = 2;  // every result goes through the hand-off to the log
  EventLog log;
  CheckRecorder recorder;
  log.SetPane(&recorder);
  IcmpContext icmp = DetectIcmpMode([] { return LoadIcmpLibrary(); }, OpenRawIcmpSocket);
  icmp.desktop = &desktop;
  if (icmp.mode != IcmpMode::Library) {
    std::fprintf(stderr, "the echo library is not available here (mode %d)\n",
                 static_cast<int>(icmp.mode));
    return 1;
  }
  NoChannels channels;

  long peakThreads = 0;
  double cpuStart = 0;
  Steady::time_point start;
  {
    Monitor monitor({clock, ui, desktop, options, log, icmp, channels, DateTextFormats{}});
    monitor.LoadHosts();
    cpuStart = CpuSeconds();
    start = Steady::now();
    monitor.SetPinging(true);
    const auto end = start + std::chrono::seconds(seconds);
    while (Steady::now() < end) {
      ui.RunFor(std::chrono::milliseconds(200));
      peakThreads = std::max(peakThreads, StatusField("Threads"));
    }
    monitor.SetPinging(false);
    monitor.Shutdown();
    ui.RunPending();
  }
  const double elapsed = std::chrono::duration<double>(Steady::now() - start).count();
  const double cpu = CpuSeconds() - cpuStart;

  long checks = 0;
  std::vector<double> intervals;
  for (const auto& [address, times] : recorder.Checks()) {
    checks += static_cast<long>(times.size());
    for (std::size_t i = 1; i < times.size(); ++i) {
      intervals.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    }
  }
  double mean = 0;
  for (double v : intervals) mean += v;
  mean = intervals.empty() ? 0 : mean / static_cast<double>(intervals.size());
  double variance = 0;
  for (double v : intervals) variance += (v - mean) * (v - mean);
  const double stddev =
      intervals.empty() ? 0 : std::sqrt(variance / static_cast<double>(intervals.size()));

  std::printf("hosts                    %d (Always, PingInterval 1 s, loopback)\n", kHosts);
  std::printf("run                      %.1f s\n", elapsed);
  std::printf("hosts checked            %zu\n", recorder.Checks().size());
  std::printf("checks per second        %.1f\n", static_cast<double>(checks) / elapsed);
  std::printf("interval between checks  mean %.1f ms, sd %.1f ms, p1 %.1f ms, p50 %.1f ms, "
              "p99 %.1f ms, max %.1f ms\n",
              mean, stddev, Percentile(intervals, 0.01), Percentile(intervals, 0.5),
              Percentile(intervals, 0.99), Percentile(intervals, 1.0));
  std::printf("CPU                      %.2f s per minute\n", cpu * 60.0 / elapsed);
  std::printf("peak memory (RSS)        %ld KiB\n", StatusField("VmHWM"));
  std::printf("peak threads             %ld\n", peakThreads);
  std::filesystem::remove_all(folder);
  StopSockets();
  return 0;
}
