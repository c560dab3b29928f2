// Runs the monitoring engine on many Always hosts against loopback addresses
// and prints what it achieved on each socket kind: checks per second, the
// interval between two checks of one host, CPU per check, peak memory and
// threads, and the round trip it reports for a responder with a known delay
// while the hosts are being checked. When fping is installed, it pings the
// same addresses for as long, and the CPU per check is set against fping's
// CPU per echo (fping runs right after each engine run, for as long).
//
// Everything runs in network namespaces of its own (the ICMP test topology):
// ping sockets are allowed there, and raw sockets see only that traffic.
// Needs root.
//
// Usage: sentrel_engine_bench [--seconds N] [--hosts N] [--interval S]
//                             [--kind raw|datagram|both] [--log-all]
//                             [--no-fping] [--no-rtt] [--ipv6]
// Defaults: 30 s, 1024 hosts, interval 1 s, both kinds. A host list holds
// at most 1024 hosts: more hosts run as several lists on one engine. With
// --ipv6 the hosts are IPv6 addresses of the client namespace's own (all of
// fd00:b::/64 is made local there, as 127.0.0.0/8 is for IPv4), and fping
// runs with -6.

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "core/alarm_channels.h"
#include "core/event_log.h"
#include "core/host_list.h"
#include "core/monitor.h"
#include "core/ui_thread.h"
#include "echo_responder.h"
#include "netns_topology.h"
#include "platform/icmp_library.h"
#include "platform/sockets.h"
#include "settings/options.h"

using namespace sentrel;
using Steady = std::chrono::steady_clock;

namespace {

struct BenchOptions {
  int seconds = 30;
  int hosts = 1024;
  int interval = 1;
  std::vector<IcmpSocketKind> kinds{IcmpSocketKind::Raw, IcmpSocketKind::Datagram};
  bool logAll = false;
  bool fping = true;
  bool rtt = true;
  bool ipv6 = false;
};

bool g_ipv6 = false;

const char* KindName(IcmpSocketKind kind) {
  return kind == IcmpSocketKind::Datagram ? "datagram" : "raw";
}

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
  bool SendNetMessage(const std::string&, const std::string&, const std::string&) override {
    return false;
  }
  bool SendMail(const std::string&, const std::string&, const std::string&) override { return false; }
};

class NoPane final : public LogPane {
 public:
  void Append(const std::string&) override {}
};

// One request as the engine made it: when the check's echo started and what
// came of it.
struct Request {
  Steady::time_point start;
  bool answered;
};

// Sits between the program's probes and the real library and notes every
// request of every channel (one channel per host), at the cost of one
// vector entry; what the engine does is left as it is.
class RecordingLibrary final : public IcmpLibrary {
 public:
  RecordingLibrary(std::shared_ptr<IcmpLibrary> inner, std::size_t expectedPerChannel)
      : inner_(std::move(inner)), expected_(expectedPerChannel) {}

  std::unique_ptr<IcmpChannel> CreateChannel() override {
    auto channel = inner_->CreateChannel();
    if (!channel) return nullptr;
    return std::make_unique<Channel>(*this, std::move(channel));
  }

  // Every channel's requests; complete once the channels are gone.
  std::vector<std::vector<Request>> Take() {
    std::lock_guard lock(mutex_);
    return std::move(done_);
  }

 private:
  class Channel final : public IcmpChannel {
   public:
    Channel(RecordingLibrary& owner, std::unique_ptr<IcmpChannel> inner)
        : owner_(owner), inner_(std::move(inner)) {
      requests_.reserve(owner.expected_);
    }
    ~Channel() override {
      std::lock_guard lock(owner_.mutex_);
      owner_.done_.push_back(std::move(requests_));
    }
    int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
                 IcmpEchoReply& reply, int timeoutMs) override {
      const auto start = Steady::now();
      const int replies = inner_->SendEcho(address, data, options, reply, timeoutMs);
      requests_.push_back({start, replies == 1 && reply.Status == kIpSuccess});
      return replies;
    }
    int SendEcho6(const IpAddress& address, std::span<const uint8_t> data,
                  const IcmpEchoOptions& options, Icmp6EchoReply& reply, int timeoutMs) override {
      const auto start = Steady::now();
      const int replies = inner_->SendEcho6(address, data, options, reply, timeoutMs);
      requests_.push_back({start, replies == 1 && reply.Status == kIpSuccess});
      return replies;
    }
    void Interrupt() override { inner_->Interrupt(); }

   private:
    RecordingLibrary& owner_;
    std::unique_ptr<IcmpChannel> inner_;
    std::vector<Request> requests_;
  };

  std::shared_ptr<IcmpLibrary> inner_;
  std::size_t expected_;
  std::mutex mutex_;
  std::vector<std::vector<Request>> done_;
};

std::string HostAddress(int i) {
  if (g_ipv6) {
    char text[32];
    std::snprintf(text, sizeof text, "fd00:b::%x", i + 1);
    return text;
  }
  return "127.0." + std::to_string(i / 250 + 1) + "." + std::to_string(i % 250 + 1);
}

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return CpuSeconds(usage);
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
  const auto index = static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
  return values[index];
}

struct RttFigure {
  int delayMs = 0;
  int answers = 0;
  double minErrorMs = 0, meanErrorMs = 0, maxErrorMs = 0;
};

// Round trips to the responder in `dly` (one router away) with each delay,
// from a thread of the client namespace through `library`.
std::vector<RttFigure> MeasureRoundTrips(IcmpLibrary& library, const std::string& cli,
                                         const std::string& dly, int perDelay) {
  std::vector<RttFigure> figures;
  for (int ms : {10, 50, 200}) {
    testing::EchoResponder responder(dly, std::chrono::milliseconds(ms));
    RttFigure figure{ms};
    if (!responder.Start()) {
      figures.push_back(figure);
      continue;
    }
    std::vector<double> errors;
    testing::RunThreadsIn(cli, 1, [&](int) {
      auto channel = library.CreateChannel();
      if (!channel) return;
      std::vector<uint8_t> data(56, 0xA7);
      for (int i = 0; i < perDelay; ++i) {
        IcmpEchoReply reply;
        if (channel->SendEcho(inet_addr("198.18.4.2"), data, {}, reply, 2000) == 1 &&
            reply.Status == kIpSuccess)
          errors.push_back(static_cast<double>(reply.RoundTripMicroseconds) / 1000.0 - ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    figure.answers = static_cast<int>(errors.size());
    if (!errors.empty()) {
      figure.minErrorMs = *std::min_element(errors.begin(), errors.end());
      figure.maxErrorMs = *std::max_element(errors.begin(), errors.end());
      for (double e : errors) figure.meanErrorMs += e;
      figure.meanErrorMs /= static_cast<double>(errors.size());
    }
    figures.push_back(figure);
  }
  return figures;
}

// The first seconds see every worker start at once; the figures that say
// what the engine costs and keeps are taken after them.
constexpr std::chrono::seconds kWarmUp{5};

struct EngineFigures {
  bool ran = false;
  double elapsed = 0;        // the whole run
  double window = 0;         // after the warm-up
  double cpuWhole = 0;
  long checksWhole = 0;
  long checks = 0;
  long failures = 0;
  std::size_t hostsChecked = 0;
  double cpu = 0;
  std::vector<double> intervals;
  long peakRssKiB = 0;
  long peakThreads = 0;
  std::vector<RttFigure> rtt;
};

// The engine on `kind` with the bench's hosts, in the client namespace.
EngineFigures RunEngine(const BenchOptions& bench, IcmpSocketKind kind,
                        testing::NetnsTopology& topology) {
  EngineFigures figures;
  const std::string cli = topology.Name("cli");
  std::shared_ptr<IcmpLibrary> base;
  {
    testing::NetnsGuard inClient(cli);
    if (inClient.ok()) base = LoadIcmpLibrary(kind);
  }
  if (!base) {
    std::printf("%s: no %s ICMP socket here\n", KindName(kind), KindName(kind));
    return figures;
  }
  const std::size_t expected =
      static_cast<std::size_t>(bench.seconds / std::max(bench.interval, 1) + 16);
  auto recording = std::make_shared<RecordingLibrary>(base, expected);

  const auto root = std::filesystem::temp_directory_path() /
                    ("sentrel-engine-bench-" + std::to_string(getpid()));
  std::filesystem::remove_all(root);
  const int lists = (bench.hosts + static_cast<int>(kMaxHosts) - 1) / static_cast<int>(kMaxHosts);

  SystemClock clock;
  TaskQueueUiThread ui;
  QuietDesktop desktop;
  EventLog log;
  NoPane pane;
  log.SetPane(&pane);
  NoChannels channels;
  IcmpContext icmp;
  icmp.mode = IcmpMode::Library;
  icmp.library = recording;
  icmp.desktop = &desktop;
  std::vector<std::unique_ptr<ROptions>> options;
  std::vector<std::unique_ptr<Monitor>> monitors;
  for (int l = 0; l < lists; ++l) {
    const auto folder = root / std::to_string(l);
    std::filesystem::create_directories(folder);
    std::ofstream file(folder / "sentrel.xml", std::ios::binary);
    for (int i = l * static_cast<int>(kMaxHosts);
         i < std::min(bench.hosts, (l + 1) * static_cast<int>(kMaxHosts)); ++i) {
      file << "<H>\r\n<CHK>T</CHK>\r\n<HIP>" << HostAddress(i) << "</HIP>\r\n<PI>"
           << bench.interval << "</PI>\r\n<TO>1000</TO>\r\n</H>\r\n";
    }
    file.close();
    auto o = std::make_unique<ROptions>();
    o->PathToData = folder.string();
    o->PathToLog = folder.string();
    if (bench.logAll) o->LogDetail = 2;
    options.push_back(std::move(o));
  }
  {
    // The workers are made on this thread and so start in its namespace.
    testing::NetnsGuard inClient(cli);
    for (int l = 0; l < lists; ++l) {
      monitors.push_back(std::make_unique<Monitor>(MonitorServices{
          clock, ui, desktop, *options[static_cast<std::size_t>(l)], log, icmp, channels,
          DateTextFormats{}}));
      monitors.back()->LoadHosts();
    }
  }

  std::atomic<bool> rttDone{!bench.rtt};
  std::thread rttThread;
  const double cpuStart = ProcessCpuSeconds();
  const auto start = Steady::now();
  const auto warm = start + kWarmUp;
  double cpuWarm = -1;
  for (auto& monitor : monitors) monitor->SetPinging(true);
  if (bench.rtt) {
    rttThread = std::thread([&] {
      // Measured while every host is being checked, once the start is over.
      std::this_thread::sleep_for(std::chrono::seconds(3));
      figures.rtt = MeasureRoundTrips(*base, cli, topology.Name("dly"), 10);
      rttDone = true;
    });
  }
  const auto end = start + std::chrono::seconds(bench.seconds);
  while (Steady::now() < end || !rttDone.load()) {
    const auto toWarm = std::chrono::ceil<std::chrono::milliseconds>(warm - Steady::now());
    ui.RunFor(cpuWarm < 0 ? std::clamp(toWarm, std::chrono::milliseconds(1), std::chrono::milliseconds(200))
                          : std::chrono::milliseconds(200));
    if (cpuWarm < 0 && Steady::now() >= warm) cpuWarm = ProcessCpuSeconds();
    figures.peakThreads = std::max(figures.peakThreads, StatusField("Threads"));
  }
  for (auto& monitor : monitors) monitor->SetPinging(false);
  const auto stopped = Steady::now();
  const double cpuStopped = ProcessCpuSeconds();
  if (rttThread.joinable()) rttThread.join();
  for (auto& monitor : monitors) monitor->Shutdown();
  ui.RunPending();
  monitors.clear();
  ui.RunPending();
  std::filesystem::remove_all(root);

  figures.ran = true;
  figures.elapsed = std::chrono::duration<double>(stopped - start).count();
  figures.window = std::chrono::duration<double>(stopped - warm).count();
  figures.cpuWhole = cpuStopped - cpuStart;
  figures.cpu = cpuStopped - cpuWarm;
  figures.peakRssKiB = StatusField("VmHWM");
  for (const auto& requests : recording->Take()) {
    bool any = false;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      if (requests[i].start > stopped) break;
      if (requests[i].answered) {
        ++figures.checksWhole;
        any = true;
      }
      if (requests[i].start < warm) continue;
      if (requests[i].answered) ++figures.checks;
      else ++figures.failures;
      if (i > 0)
        figures.intervals.push_back(
            std::chrono::duration<double, std::milli>(requests[i].start - requests[i - 1].start)
                .count());
    }
    if (any) ++figures.hostsChecked;
  }
  return figures;
}

struct FpingFigures {
  bool ran = false;
  double elapsed = 0;
  long echoes = 0;
  double cpu = 0;
};

bool HaveFping() { return std::system("command -v fping >/dev/null 2>&1") == 0; }

// fping pinging the same addresses, in the client namespace, for as long.
FpingFigures RunFping(const BenchOptions& bench, const std::string& cli) {
  FpingFigures figures;
  const auto dir = std::filesystem::temp_directory_path();
  const std::string list = (dir / ("sentrel-bench-hosts-" + std::to_string(getpid()))).string();
  const std::string summary = list + ".summary";
  {
    std::ofstream file(list);
    for (int i = 0; i < bench.hosts; ++i) file << HostAddress(i) << "\n";
  }
  const std::string period = std::to_string(bench.interval * 1000);
  const auto start = Steady::now();
  const pid_t child = fork();
  if (child == 0) {
    testing::NetnsGuard inClient(cli);
    int null = open("/dev/null", O_WRONLY);
    int err = open(summary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!inClient.ok() || null < 0 || err < 0) _exit(127);
    dup2(null, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execlp("fping", "fping", bench.ipv6 ? "-6" : "-4", "-l", "-p", period.c_str(), "-i", "0",
           "-q", "-f", list.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child < 0) return figures;
  std::this_thread::sleep_for(std::chrono::seconds(bench.seconds));
  kill(child, SIGINT);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  figures.elapsed = std::chrono::duration<double>(Steady::now() - start).count();
  figures.cpu = CpuSeconds(usage);
  // "<address> : xmt/rcv/%loss = 30/30/0%, ..." per address.
  std::ifstream lines(summary);
  std::string line;
  while (std::getline(lines, line)) {
    const auto at = line.find("xmt/rcv/%loss = ");
    if (at == std::string::npos) continue;
    long sent = 0, received = 0;
    if (std::sscanf(line.c_str() + at + 16, "%ld/%ld", &sent, &received) == 2)
      figures.echoes += received;
  }
  figures.ran = figures.echoes > 0;
  std::filesystem::remove(list);
  std::filesystem::remove(summary);
  return figures;
}

void PrintEngine(const BenchOptions& bench, IcmpSocketKind kind, const EngineFigures& f,
                 const FpingFigures& fping) {
  const double configured = bench.interval * 1000.0;
  const double perCheckUs = f.checks > 0 ? f.cpu / static_cast<double>(f.checks) * 1e6 : 0;
  const double perCheckWholeUs =
      f.checksWhole > 0 ? f.cpuWhole / static_cast<double>(f.checksWhole) * 1e6 : 0;
  std::printf("\n== Sentrel, %s sockets: %d hosts, PingInterval %d s, %.1f s (figures from %lld s "
              "on)%s\n",
              KindName(kind), bench.hosts, bench.interval, f.elapsed,
              static_cast<long long>(kWarmUp.count()), bench.logAll ? ", every result logged" : "");
  std::printf("hosts checked            %zu of %d\n", f.hostsChecked, bench.hosts);
  double meanInterval = 0;
  for (double v : f.intervals) meanInterval += v;
  meanInterval = f.intervals.empty() ? 0 : meanInterval / static_cast<double>(f.intervals.size());
  // Hosts that started together stay in step, so the count in a window also
  // depends on where its edges fall; the mean interval does not.
  std::printf("checks per second        %.1f in the window, %.1f from the mean interval "
              "(hosts / interval = %.1f); %ld unanswered requests\n",
              static_cast<double>(f.checks) / f.window,
              meanInterval > 0 ? static_cast<double>(f.hostsChecked) * 1000.0 / meanInterval : 0.0,
              bench.hosts / static_cast<double>(bench.interval), f.failures);
  std::printf("interval between checks  p1 %.1f ms, p50 %.1f ms, p99 %.1f ms (%+.2f %%), "
              "max %.1f ms (%+.2f %%)\n",
              Percentile(f.intervals, 0.01), Percentile(f.intervals, 0.5),
              Percentile(f.intervals, 0.99),
              (Percentile(f.intervals, 0.99) - configured) / configured * 100,
              Percentile(f.intervals, 1.0), (Percentile(f.intervals, 1.0) - configured) / configured * 100);
  std::printf("CPU                      %.2f s per minute, %.1f us per check "
              "(whole run with the start: %.2f s per minute, %.1f us per check)\n",
              f.cpu * 60.0 / f.window, perCheckUs, f.cpuWhole * 60.0 / f.elapsed, perCheckWholeUs);
  if (fping.ran) {
    const double fpingUs = fping.cpu / static_cast<double>(fping.echoes) * 1e6;
    std::printf("fping, run right after   %.2f s per minute, %.1f us per echo (%.1f echoes per second)\n",
                fping.cpu * 60.0 / fping.elapsed, fpingUs,
                static_cast<double>(fping.echoes) / fping.elapsed);
    std::printf("ratio to fping           %.2f (CPU per check / fping's CPU per echo; whole run %.2f)\n",
                perCheckUs / fpingUs, perCheckWholeUs / fpingUs);
  }
  std::printf("peak memory (RSS)        %ld KiB (%.1f MiB)\n", f.peakRssKiB, f.peakRssKiB / 1024.0);
  std::printf("peak threads             %ld\n", f.peakThreads);
  for (const RttFigure& r : f.rtt) {
    if (r.answers == 0) {
      std::printf("round trip, delay %3d ms: no answers\n", r.delayMs);
      continue;
    }
    std::printf("round trip, delay %3d ms: %d answers, error min %+.3f ms, mean %+.3f ms, "
                "max %+.3f ms\n",
                r.delayMs, r.answers, r.minErrorMs, r.meanErrorMs, r.maxErrorMs);
  }
}

std::optional<BenchOptions> ParseArguments(int argc, char** argv) {
  BenchOptions bench;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto number = [&](int& into, int least) {
      if (i + 1 >= argc) return false;
      into = std::max(least, std::atoi(argv[++i]));
      return true;
    };
    if (a == "--seconds") {
      if (!number(bench.seconds, 5)) return std::nullopt;
    } else if (a == "--hosts") {
      if (!number(bench.hosts, 1)) return std::nullopt;
    } else if (a == "--interval") {
      if (!number(bench.interval, 1)) return std::nullopt;
    } else if (a == "--kind" && i + 1 < argc) {
      const std::string k = argv[++i];
      if (k == "raw") bench.kinds = {IcmpSocketKind::Raw};
      else if (k == "datagram") bench.kinds = {IcmpSocketKind::Datagram};
      else if (k != "both") return std::nullopt;
    } else if (a == "--log-all") {
      bench.logAll = true;
    } else if (a == "--no-fping") {
      bench.fping = false;
    } else if (a == "--no-rtt") {
      bench.rtt = false;
    } else if (a == "--ipv6") {
      bench.ipv6 = true;
    } else {
      return std::nullopt;
    }
  }
  // The addresses 127.0.1.1 ... stay inside 127.0.0.0/8.
  if (bench.hosts > 250 * 250) return std::nullopt;
  return bench;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<BenchOptions> bench = ParseArguments(argc, argv);
  if (!bench) {
    std::fprintf(stderr,
                 "usage: sentrel_engine_bench [--seconds N] [--hosts N] [--interval S] "
                 "[--kind raw|datagram|both] [--log-all] [--no-fping] [--no-rtt] [--ipv6]\n");
    return 2;
  }
  if (std::string why = testing::NetnsTopology::Unavailable(); !why.empty()) {
    std::fprintf(stderr, "sentrel_engine_bench: %s\n", why.c_str());
    return 1;
  }
  StartSockets();
  testing::RaiseOpenFileLimit();
  testing::NetnsTopology topology;
  if (!topology.Up()) {
    std::fprintf(stderr, "sentrel_engine_bench: scripts/netns-topology.sh up failed\n");
    return 1;
  }
  g_ipv6 = bench->ipv6;
  if (bench->ipv6 &&
      std::system(("ip -n " + topology.Name("cli") + " -6 route add local fd00:b::/64 dev lo")
                      .c_str()) != 0) {
    std::fprintf(stderr, "sentrel_engine_bench: no local IPv6 prefix in the client namespace\n");
    return 1;
  }
  // The machine is shared and its load changes: fping runs right after each
  // engine run, so that each ratio compares figures taken close together.
  const bool fpingHere = bench->fping && HaveFping();
  for (IcmpSocketKind kind : bench->kinds) {
    const EngineFigures figures = RunEngine(*bench, kind, topology);
    if (!figures.ran) continue;
    const FpingFigures fping = fpingHere ? RunFping(*bench, topology.Name("cli")) : FpingFigures{};
    PrintEngine(*bench, kind, figures, fping);
    std::fflush(stdout);
  }
  if (bench->fping && !fpingHere) std::printf("\nfping is not installed: no comparison\n");
  StopSockets();
  return 0;
}
