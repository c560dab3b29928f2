// Figures of the history store with 1,024 hosts:
//  1. the CPU that recording adds to the engine with 1,024 hosts checked
//     every second (a scripted echo library answers in 1-20 ms, one request
//     in 2,000 is lost): the same run without and with the store;
//  2. the database's growth per day, extrapolated from HOURS simulated hours
//     of results (a fake clock; each simulated minute is written as the
//     writer writes a finished minute);
//  3. opening a host's month graph (and day and week) in the history window
//     on Qt's offscreen platform, on a database prepared with a month of
//     data for 1,024 hosts: 14 days of minutes and 30 days of hours.
//
// Usage: sentrel_history_bench [SECONDS] [HOURS]   (defaults 30 and 3)
// SECONDS is the length of each of the seven engine runs of part 1.

#include <sys/resource.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <QApplication>

#include "common/clock.h"
#include "core/event_log.h"
#include "core/host_entry.h"
#include "core/monitor.h"
#include "core/ui_thread.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_echo_library.h"
#include "fakes/recording_channels.h"
#include "gui/history_graph.h"
#include "gui/history_window.h"
#include "history/history_store.h"
#include "history/history_time.h"
#include "settings/options.h"

using namespace sentrel;
using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr int kHosts = 1024;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Ms(Steady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string HostAddress(int i) {
  return "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
         std::to_string(i % 256);
}

uint64_t FolderBytes(const fs::path& folder) {
  uint64_t bytes = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.is_regular_file(ec)) bytes += entry.file_size(ec);
  }
  return bytes;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Time on a CPU of this process's thread named `name`, from the
// scheduler's own account (nanoseconds, unlike the ticks of "stat").
double NamedThreadCpuSeconds(const std::string& name) {
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/self/task", ec)) {
    std::ifstream comm(task.path() / "comm");
    std::string line;
    std::getline(comm, line);
    if (line != name) continue;
    std::ifstream schedstat(task.path() / "schedstat");
    double nanoseconds = 0;
    schedstat >> nanoseconds;
    return nanoseconds / 1e9;
  }
  return 0;
}

// What reading the thread clock twice costs; taken off the hand-over time.
double ClockPairSeconds() {
  constexpr int kRounds = 100000;
  const double t0 = ThreadCpuSeconds();
  double sink = 0;
  for (int i = 0; i < kRounds; ++i) sink += ThreadCpuSeconds() - ThreadCpuSeconds();
  return (ThreadCpuSeconds() - t0) / kRounds + (sink > 1 ? 1e-12 : 0);
}

// What the engine adds before the hand-over: the host's identity, read
// under its string locks.
double IdentitySeconds() {
  HostEntry host;
  host.HostIP.Set("10.0.3.200");
  host.HostName.Set("host1000");
  constexpr int kRounds = 100000;
  std::size_t sink = 0;
  const double t0 = ThreadCpuSeconds();
  for (int i = 0; i < kRounds; ++i) sink += HistoryHostOf(host).address.size();
  return (ThreadCpuSeconds() - t0) / kRounds + (sink == 0 ? 1e-12 : 0);
}

// Passes every result on to the store and adds up the CPU time that the
// workers spend handing them over (two clock readings included).
class TimedRecorder final : public ResultRecorder {
 public:
  explicit TimedRecorder(HistoryStore& store) : store_(store) {}
  void Record(const ResultRecord& result) override {
    const double t0 = ThreadCpuSeconds();
    store_.Record(result);
    Add(ThreadCpuSeconds() - t0);
    ++count_;
  }
  long Count() const { return count_.load(); }
  void RecordTrace(const HistoryHost& host, DateTime when, const std::string& text) override {
    store_.RecordTrace(host, when, text);
  }
  double Seconds() const { return static_cast<double>(nanoseconds_.load()) / 1e9; }

 private:
  void Add(double seconds) { nanoseconds_ += static_cast<int64_t>(seconds * 1e9); }
  HistoryStore& store_;
  std::atomic<int64_t> nanoseconds_{0};
  std::atomic<long> count_{0};
};

struct EngineRun {
  double cpuPerSecond = 0;
  double checksPerSecond = 0;
  double seconds = 0;
};

// The engine on 1,024 Always hosts with a ping interval of one second.
EngineRun RunEngine(const fs::path& folder, int seconds, ResultRecorder* recorder,
                    const HistoryFigures* figures) {
  SystemClock clock;
  TaskQueueUiThread ui;
  testing::FakeDesktop desktop;
  ROptions options;
  options.PathToData = folder.string();
  options.PathToLog = folder.string();
  EventLog log;
  auto library = std::make_shared<testing::ScriptedEchoLibrary>();
  library->RecordRequests(false);
  library->SetRule([](uint32_t address, const IcmpEchoOptions&) {
    thread_local std::minstd_rand random(std::random_device{}());
    if (random() % 2000 == 0) return testing::ScriptedEchoLibrary::Answer{std::nullopt, {}};
    const auto rtt = static_cast<uint32_t>(1 + random() % 20);
    return testing::ScriptedEchoLibrary::Answer{IcmpEchoReply{address, kIpSuccess, rtt},
                                                std::chrono::milliseconds(rtt)};
  });
  IcmpContext icmp;
  icmp.mode = IcmpMode::Library;
  icmp.library = library;
  icmp.desktop = &desktop;
  testing::RecordingChannels channels;

  MonitorServices services{clock, ui, desktop, options, log, icmp, channels, DateTextFormats{}};
  services.recorder = recorder;
  services.figures = figures;
  Monitor monitor(services);
  monitor.LoadHosts();
  const long requestsBefore = library->RequestCount();
  const double cpuStart = CpuSeconds();
  const auto start = Steady::now();
  monitor.SetPinging(true);
  while (Steady::now() < start + std::chrono::seconds(seconds)) {
    ui.RunFor(std::chrono::milliseconds(200));
  }
  const double elapsed = std::chrono::duration<double>(Steady::now() - start).count();
  const double cpu = CpuSeconds() - cpuStart;
  monitor.SetPinging(false);
  monitor.Shutdown();
  ui.RunPending();
  return {cpu / elapsed, static_cast<double>(library->RequestCount() - requestsBefore) / elapsed,
          elapsed};
}

void BenchRecordingCpu(const fs::path& root, int seconds) {
  const fs::path folder = root / "engine";
  fs::create_directories(folder);
  {
    std::ofstream file(folder / "sentrel.xml", std::ios::binary);
    for (int i = 0; i < kHosts; ++i) {
      file << "<H>\r\n<CHK>T</CHK>\r\n<HIP>" << HostAddress(i) << "</HIP>\r\n<PI>1</PI>\r\n"
           << "<TO>1000</TO>\r\n</H>\r\n";
    }
  }
  SystemClock clock;
  HistoryStoreSettings settings;
  settings.path = HistoryStore::PathIn(folder.string());
  std::printf("1. recording, %d hosts checked every second (scripted echoes), runs of %d s\n",
              kHosts, seconds);
  // Runs without and with the store in turns: the machine's own noise is
  // larger than the difference, so the medians of three pairs are shown.
  std::vector<double> withouts;
  std::vector<double> withs;
  uint64_t dropped = 0;
  for (int pair = 0; pair < 3; ++pair) {
    const EngineRun without = RunEngine(folder, seconds, nullptr, nullptr);
    HistoryStore store(settings, clock);
    const EngineRun with = RunEngine(folder, seconds, &store, &store);
    dropped += store.Dropped();
    withouts.push_back(without.cpuPerSecond);
    withs.push_back(with.cpuPerSecond);
    std::printf("   pair %d                  without %.1f ms CPU per s (%.0f checks per s), "
                "with %.1f (%.0f)\n",
                pair + 1, without.cpuPerSecond * 1e3, without.checksPerSecond,
                with.cpuPerSecond * 1e3, with.checksPerSecond);
  }
  std::sort(withouts.begin(), withouts.end());
  std::sort(withs.begin(), withs.end());
  const double base = withouts[1];
  std::printf("   medians                 without %.1f, with %.1f ms CPU per s: %+.1f %%; "
              "%llu results dropped\n",
              base * 1e3, withs[1] * 1e3, 100.0 * (withs[1] - base) / base,
              static_cast<unsigned long long>(dropped));

  // The recording's own CPU, measured where it is spent: the hand-over on
  // the workers (thread CPU clock around each Record) and the writer thread.
  double handOver = 0;
  double writer = 0;
  long recorded = 0;
  EngineRun timedRun;
  {
    HistoryStore store(settings, clock);
    TimedRecorder timed(store);
    const double writerBefore = NamedThreadCpuSeconds("history-writer");
    timedRun = RunEngine(folder, seconds, &timed, &store);
    writer = NamedThreadCpuSeconds("history-writer") - writerBefore;
    handOver = timed.Seconds();
    recorded = timed.Count();
  }
  // The hand-over without the clock readings, plus the identity that
  // OnEchoResult reads for each result.
  const double results = static_cast<double>(recorded);
  handOver = std::max(0.0, handOver - ClockPairSeconds() * results) + IdentitySeconds() * results;
  const double added = (handOver + writer) / timedRun.seconds;
  std::printf("   recording itself        %.2f ms CPU per s: %.2f on the workers (%.2f us per "
              "result), %.2f on the writer thread = %.1f %% of the median run without\n",
              added * 1e3, handOver / timedRun.seconds * 1e3, handOver / results * 1e6,
              writer / timedRun.seconds * 1e3, 100.0 * added / base);
}

void BenchGrowth(const fs::path& root, int hours) {
  const fs::path folder = root / "growth";
  fs::create_directories(folder);
  std::vector<HistoryHost> hosts;
  for (int i = 0; i < kHosts; ++i) hosts.push_back({HostAddress(i), "host" + std::to_string(i)});
  const DateTime start = EncodeDateTime({2026, 3, 2, 0, 0, 0, 0});
  testing::FakeClock clock(start);
  HistoryStoreSettings settings;
  settings.path = HistoryStore::PathIn(folder.string());
  // A whole simulated minute waits in the queue before it is written.
  settings.queueCapacity = 80000;
  std::minstd_rand random(7);
  double recordSeconds = 0;
  uint64_t before = 0;
  {
    HistoryStore store(settings, clock);
    store.Flush();
    before = FolderBytes(folder);
    std::vector<int32_t> state(kHosts, -1);
    for (int minute = 0; minute < hours * 60; ++minute) {
      const auto t0 = Steady::now();
      for (int second = 0; second < 60; ++second) {
        const DateTime when = start + (minute * 60 + second) / 86400.0;
        for (int h = 0; h < kHosts; ++h) {
          const bool lost = random() % 2000 == 0;
          const int32_t now = lost ? 11010 : 0;
          store.Record({hosts[static_cast<std::size_t>(h)], when, lost ? 11010u : 0u,
                        static_cast<uint32_t>(1 + random() % 20), true, now,
                        state[static_cast<std::size_t>(h)]});
          state[static_cast<std::size_t>(h)] = now;
        }
      }
      recordSeconds += std::chrono::duration<double>(Steady::now() - t0).count();
      clock.Set(start + ((minute + 1) * 60 + 3) / 86400.0);
      store.Flush();
    }
  }
  const uint64_t after = FolderBytes(folder);
  const double perDay = static_cast<double>(after - before) * 24.0 / hours;
  const double records = static_cast<double>(hours) * 3600.0 * kHosts;
  std::printf("2. growth, %d simulated hours of %d hosts checked every second\n", hours, kHosts);
  std::printf("   database                %.1f MB after %d h\n", static_cast<double>(after) / 1e6,
              hours);
  std::printf("   growth per day          %.1f MB (extrapolated); %.1f bytes per minute row\n",
              perDay / 1e6, static_cast<double>(after - before) / (hours * 60.0 * kHosts));
  std::printf("   after 14 days           about %.0f MB, then flat for the minutes (pruned)\n",
              perDay * 14 / 1e6);
  std::printf("   Record() on one thread  %.2f us per result\n", recordSeconds * 1e6 / records);
}

// A month of data written straight through SQL: random round trips, a lost
// minute now and then, an outage a day per host.
void PrepareMonth(const std::string& path, DateTime now) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const int64_t nowMinute = MinuteOfSecond(HistorySecond(now));
  const int64_t nowHour = HourOfMinute(nowMinute);
  const int64_t firstMinute = nowMinute - 14 * 1440;
  const int64_t firstHour = nowHour - 30 * 24;
  std::string sql = "PRAGMA journal_mode=WAL; BEGIN;";
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  for (int i = 0; i < kHosts; ++i) {
    sql = "INSERT INTO hosts(id, address, name) VALUES(" + std::to_string(i + 1) + ", '" +
          HostAddress(i) + "', 'host" + std::to_string(i) + "');";
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  // Minutes in key order (host, minute), as the store's pages end up.
  sql = "WITH RECURSIVE m(value) AS (SELECT " + std::to_string(firstMinute) +
        " UNION ALL SELECT value + 1 FROM m WHERE value < " + std::to_string(nowMinute - 1) +
        ") INSERT INTO minutes SELECT h.id, m.value, 60, CASE WHEN abs(random()) % 500 = 0 "
        "THEN 0 ELSE 60 END, 1 + abs(random()) % 5, 10 + abs(random()) % 30, 600, 120, 59 "
        "FROM hosts h, m ORDER BY h.id, m.value;";
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sql = "WITH RECURSIVE hr(value) AS (SELECT " + std::to_string(firstHour) +
        " UNION ALL SELECT value + 1 FROM hr WHERE value < " + std::to_string(nowHour - 1) +
        ") INSERT INTO hours SELECT h.id, hr.value, 3600, 3590, 1, 40, 36000, 7000, 3540, 60, "
        "abs(random()) % 3 FROM hosts h, hr;"
        "WITH RECURSIVE d(value) AS (SELECT 0 UNION ALL SELECT value + 1 FROM d WHERE value < 29) "
        "INSERT INTO outages(host, start_second, end_second, status, interrupted, trace) "
        "SELECT h.id, (" +
        std::to_string(firstHour) + " + d.value * 24 + 3) * 3600, (" + std::to_string(firstHour) +
        " + d.value * 24 + 3) * 3600 + 300, 11010, 0, '=== Trace x ===' FROM hosts h, d;"
        "UPDATE meta SET value = " +
        std::to_string(nowHour - 1) + " WHERE key = 'rolled_through'; COMMIT;";
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void BenchMonthGraph(const fs::path& root, int argc, char** argv) {
  const fs::path folder = root / "month";
  fs::create_directories(folder);
  const DateTime now = EncodeDateTime({2026, 4, 1, 12, 30, 0, 0});
  testing::FakeClock clock(now);
  const std::string path = HistoryStore::PathIn(folder.string());
  {
    // The store makes the schema.
    HistoryStoreSettings settings;
    settings.path = path;
    HistoryStore store(settings, clock);
  }
  const auto prepareStart = Steady::now();
  PrepareMonth(path, now);
  const double prepared = Ms(Steady::now() - prepareStart);

  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = argc > 0 ? 1 : 0;
  QApplication app(qtArgc, argv);
  const HistoryHost host{HostAddress(512), "host512"};
  // The window reads the list's hosts on every reload, as in the program.
  const auto listed = [] {
    std::vector<ListedHost> hosts;
    for (int i = 0; i < kHosts; ++i) {
      hosts.push_back({{HostAddress(i), "host" + std::to_string(i)}, {1250, 1666, 2500, 5000}});
    }
    return hosts;
  };
  std::printf("3. history window, a month of data for %d hosts (%.0f MB, prepared in %.0f s)\n",
              kHosts, static_cast<double>(FolderBytes(folder)) / 1e6, prepared / 1000);
  for (const HistoryPeriod period :
       {HistoryPeriod::Month, HistoryPeriod::Week, HistoryPeriod::Day}) {
    std::vector<double> times;
    std::size_t points = 0;
    for (int round = 0; round < 5; ++round) {
      const auto t0 = Steady::now();
      HistoryWindow window({path, clock, listed});
      window.resize(900, 640);
      window.SetPeriod(period);
      window.ShowHost(host);
      const QPixmap shot = window.grab();  // lays out and paints everything
      times.push_back(Ms(Steady::now() - t0));
      points = window.Graph().Data().buckets.size();
      if (shot.isNull()) std::printf("   (no picture)\n");
    }
    const double first = times.front();
    std::sort(times.begin(), times.end());
    std::printf("   open %-5s graph        first %.1f ms, median %.1f ms, max %.1f ms (%zu points)\n",
                PeriodName(period), first, times[times.size() / 2], times.back(), points);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 30;
  const int hours = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const fs::path root = fs::temp_directory_path() / "sentrel-history-bench";
  fs::remove_all(root);
  fs::create_directories(root);
  BenchRecordingCpu(root, seconds);
  BenchGrowth(root, hours);
  BenchMonthGraph(root, argc, argv);
  fs::remove_all(root);
  return 0;
}
