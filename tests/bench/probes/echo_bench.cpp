// Figures for the echo engine: how long 1024 probes on 1024 threads take to
// each complete one echo to loopback, and how far the reported round trip
// lies from a responder's known delay. Needs root (namespaces, raw sockets).
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "echo_responder.h"
#include "netns_topology.h"
#include "platform/icmp_library.h"
#include "probes/icmp_mode.h"
#include "probes/ping_probe.h"

namespace sentrel {
namespace {

using Clock = std::chrono::steady_clock;

const char* KindName(IcmpSocketKind kind) {
  return kind == IcmpSocketKind::Datagram ? "datagram" : "raw";
}

// 1024 workers start together, each with its own probe, and each completes
// one echo to 127.0.0.1.
void ManyProbesToLoopback(const std::string& netns, IcmpSocketKind kind, int workers) {
  IcmpContext context;
  context.mode = IcmpMode::Library;
  {
    testing::NetnsGuard guard(netns);
    context.library = LoadIcmpLibrary(kind);
  }
  if (!context.library) {
    std::printf("%-9s %-22s no %s socket here\n", KindName(kind), netns.c_str(), KindName(kind));
    return;
  }
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::atomic<int> answered{0};
  std::vector<uint32_t> rtts(static_cast<size_t>(workers), 0);
  std::vector<double> doneAt(static_cast<size_t>(workers), 0);
  Clock::time_point start;
  bool ok = testing::RunThreadsIn(netns, workers, [&](int i) {
    PingProbe probe(context);
    probe.targetText = "127.0.0.1";
    probe.timeout = 5000;
    probe.OnEcho = [&](EchoProbe&, uint32_t status, const IpAddress&, uint32_t rtt,
                       const EchoDetail&, const std::string&) {
      if (status == kIpSuccess) ++answered;
      rtts[static_cast<size_t>(i)] = rtt;
    };
    ++ready;
    while (!go.load()) std::this_thread::yield();
    probe.Run();
    doneAt[static_cast<size_t>(i)] =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }, [&] {
    // All threads exist and wait: start the clock and release them (also
    // after a bounded wait, when some thread could not be started).
    auto limit = Clock::now() + std::chrono::seconds(10);
    while (ready.load() < workers && Clock::now() < limit) std::this_thread::yield();
    start = Clock::now();
    go = true;
  });
  if (!ok) {
    std::printf("%-9s could not start %d threads in %s\n", KindName(kind), workers, netns.c_str());
    return;
  }
  std::sort(doneAt.begin(), doneAt.end());
  std::sort(rtts.begin(), rtts.end());
  std::printf("%-9s %-22s %4d probes: %4d answered, all done in %7.1f ms "
              "(median worker %6.1f ms), reported rtt median %u ms, max %u ms\n",
              KindName(kind), netns.c_str(), workers, answered.load(), doneAt.back(),
              doneAt[doneAt.size() / 2], rtts[rtts.size() / 2], rtts.back());
}

void DelayAccuracy(const std::string& cli, const std::string& dly, IcmpSocketKind kind,
                   std::chrono::milliseconds delay, int count) {
  testing::EchoResponder responder(dly, delay);
  if (!responder.Start()) return;
  std::vector<long> errors;
  testing::RunThreadsIn(cli, 1, [&](int) {
    auto library = LoadIcmpLibrary(kind);
    auto channel = library ? library->CreateChannel() : nullptr;
    if (!channel) return;
    std::vector<uint8_t> data(56, 0xA7);
    for (int i = 0; i < count; ++i) {
      IcmpEchoReply reply;
      if (channel->SendEcho(inet_addr("198.18.4.2"), data, {}, reply, 2000) == 1)
        errors.push_back(static_cast<long>(reply.RoundTripTime) - delay.count());
    }
  });
  if (errors.empty()) {
    std::printf("%-9s delay %4lld ms: no answers\n", KindName(kind),
                static_cast<long long>(delay.count()));
    return;
  }
  std::sort(errors.begin(), errors.end());
  double mean = 0;
  for (long e : errors) mean += static_cast<double>(e);
  mean /= static_cast<double>(errors.size());
  std::printf("%-9s delay %4lld ms: %zu answers, error min %+ld ms, mean %+.2f ms, max %+ld ms\n",
              KindName(kind), static_cast<long long>(delay.count()), errors.size(), errors.front(),
              mean, errors.back());
}

}  // namespace
}  // namespace sentrel

int main() {
  using namespace sentrel;
  if (std::string why = testing::NetnsTopology::Unavailable(); !why.empty()) {
    std::printf("echo_bench: %s\n", why.c_str());
    return 1;
  }
  testing::RaiseOpenFileLimit();
  testing::NetnsTopology topology;
  if (!topology.Up()) {
    std::printf("echo_bench: scripts/netns-topology.sh up failed\n");
    return 1;
  }
  const std::string cli = topology.Name("cli");
  std::printf("1024 probes, one echo each to 127.0.0.1, each on its own thread:\n");
  for (int round = 0; round < 2; ++round) {
    ManyProbesToLoopback(cli, IcmpSocketKind::Datagram, 1024);
    ManyProbesToLoopback(cli, IcmpSocketKind::Raw, 1024);
  }
  std::printf("\nRound trip reported against a responder's known delay (via one router):\n");
  for (auto kind : {IcmpSocketKind::Datagram, IcmpSocketKind::Raw})
    for (int ms : {10, 50, 200})
      DelayAccuracy(cli, topology.Name("dly"), kind, std::chrono::milliseconds(ms), 20);
  return 0;
}
