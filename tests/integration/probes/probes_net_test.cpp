#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "echo_responder.h"
#include "netns_topology.h"
#include "platform/icmp_library.h"
#include "platform/raw_icmp_socket.h"
#include "platform/socket_notifier_poll.h"
#include "probes/icmp_mode.h"
#include "probes/ping_probe.h"
#include "probes/trace_probe.h"

namespace sentrel {
namespace {

using testing::EchoResponder;
using testing::NetnsGuard;
using testing::NetnsTopology;
using testing::RunThreadsIn;
using Clock = std::chrono::steady_clock;

uint32_t Net(const char* dotted) { return inet_addr(dotted); }

// The namespaces of this test program, built afresh for every test: a router
// answers "unreachable" to one source only a few times in a burst (then one
// per second, a limit that cannot be changed inside a namespace), so every
// test starts with routers that have not answered yet.
NetnsTopology& Topology() {
  static NetnsTopology topology;
  return topology;
}

std::string Cli() { return Topology().Name("cli"); }
std::string Dly() { return Topology().Name("dly"); }

class NetTest {
 protected:
  // Skips where the machine cannot have namespaces; where it can, a failing
  // set-up is a test failure. Call with ASSERT_NO_FATAL_FAILURE.
  static void BringUp() {
    if (std::string why = NetnsTopology::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(Topology().Up()) << "scripts/netns-topology.sh up failed";
  }
  static void TearDownNet() { Topology().Down(); }
};

std::string KindName(const ::testing::TestParamInfo<IcmpSocketKind>& kind) {
  return kind.param == IcmpSocketKind::Datagram ? "Datagram" : "Raw";
}

struct EchoResult {
  int replies = -1;
  IcmpEchoReply reply;
  std::chrono::milliseconds elapsed{0};
};

// The ICMP sockets of one kind in the calling thread's namespace, as the
// kernel lists them, and what it has dropped on them for a full buffer.
struct SocketTable {
  int sockets = 0;
  long drops = 0;
};

SocketTable IcmpSockets(IcmpSocketKind kind) {
  std::ifstream table(kind == IcmpSocketKind::Datagram ? "/proc/thread-self/net/icmp"
                                                       : "/proc/thread-self/net/raw");
  SocketTable result;
  std::string line;
  std::getline(table, line);  // the column names
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string field, last;
    while (fields >> field) last = field;
    ++result.sockets;
    result.drops += std::atol(last.c_str());
  }
  return result;
}

// Starts `count` threads in `netns` that each run `body` with a channel of
// `library`, all released at the same moment once every one is ready.
bool RunTogether(const std::string& netns, int count, IcmpLibrary& library,
                 const std::function<void(int, IcmpChannel&)>& body) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  return RunThreadsIn(
      netns, count,
      [&](int i) {
        auto channel = library.CreateChannel();
        ++ready;
        while (!go.load()) std::this_thread::yield();
        if (channel) body(i, *channel);
      },
      [&] {
        const auto limit = Clock::now() + std::chrono::seconds(10);
        while (ready.load() < count && Clock::now() < limit)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        go = true;
      });
}

// Requests through the library on `kind`, from the client namespace.
class IcmpLibraryNetTest : public ::testing::TestWithParam<IcmpSocketKind>, protected NetTest {
 protected:
  void SetUp() override {
    BringUp();
    if (IsSkipped() || HasFatalFailure()) return;
  }
  void TearDown() override { TearDownNet(); }

  EchoResult Echo(const char* target, IcmpEchoOptions options = {}, int timeoutMs = 2000,
                  size_t dataSize = 56) {
    EchoResult result;
    bool moved = RunThreadsIn(Cli(), 1, [&](int) {
      auto library = LoadIcmpLibrary(GetParam());
      auto channel = library ? library->CreateChannel() : nullptr;
      if (!channel) return;
      std::vector<uint8_t> data(dataSize, 0xA7);
      auto start = Clock::now();
      result.replies = channel->SendEcho(Net(target), data, options, result.reply, timeoutMs);
      result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    });
    EXPECT_TRUE(moved);
    return result;
  }
};

TEST_P(IcmpLibraryNetTest, LoopbackAndOwnAddressAnswer) {
  for (const char* target : {"127.0.0.1", "198.18.1.2"}) {
    for (size_t size : {0u, 1u, 255u}) {
      EchoResult r = Echo(target, {}, 2000, size);
      ASSERT_EQ(r.replies, 1) << target << " size " << size;
      EXPECT_EQ(r.reply.Status, kIpSuccess);
      EXPECT_EQ(r.reply.Address, Net(target));
      EXPECT_LE(r.reply.RoundTripTime, 20u);
      // The system's own answer leaves with its default TTL (64 on Linux).
      EXPECT_EQ(r.reply.Ttl, 64) << target;
      EXPECT_LE(r.reply.RoundTripMicroseconds, r.reply.RoundTripTime * 1000 + 500);
    }
  }
}

TEST_P(IcmpLibraryNetTest, RoutersAnswerTtlExpiredAndTheTargetEchoes) {
  EchoResult hop1 = Echo("198.18.3.2", {1, 0});
  EchoResult hop2 = Echo("198.18.3.2", {2, 0});
  EchoResult hop3 = Echo("198.18.3.2", {3, 0});
  ASSERT_EQ(hop1.replies, 1);
  EXPECT_EQ(hop1.reply.Status, kIpTtlExpiredTransit);
  EXPECT_EQ(hop1.reply.Address, Net("198.18.1.1"));
  ASSERT_EQ(hop2.replies, 1);
  EXPECT_EQ(hop2.reply.Status, kIpTtlExpiredTransit);
  EXPECT_EQ(hop2.reply.Address, Net("198.18.2.2"));
  ASSERT_EQ(hop3.replies, 1);
  EXPECT_EQ(hop3.reply.Status, kIpSuccess);
  EXPECT_EQ(hop3.reply.Address, Net("198.18.3.2"));
}

TEST_P(IcmpLibraryNetTest, UnreachableAnswersCarryTheRouter) {
  EchoResult net = Echo("198.18.8.1");  // r1 has no route there
  ASSERT_EQ(net.replies, 1);
  EXPECT_EQ(net.reply.Status, kIpDestNetUnreachable);
  EXPECT_EQ(net.reply.Address, Net("198.18.1.1"));
  EchoResult host = Echo("198.18.9.1");  // r2's route says unreachable
  ASSERT_EQ(host.replies, 1);
  EXPECT_EQ(host.reply.Status, kIpDestHostUnreachable);
  EXPECT_EQ(host.reply.Address, Net("198.18.2.2"));
}

TEST_P(IcmpLibraryNetTest, SilentTargetTimesOutOnTime) {
  EchoResult r = Echo("198.18.7.1", {}, 400);
  EXPECT_EQ(r.replies, 0);
  EXPECT_EQ(r.reply.Status, kIpRequestTimedOut);
  EXPECT_GE(r.elapsed.count(), 400);
  EXPECT_LT(r.elapsed.count(), 400 + 150);
}

TEST_P(IcmpLibraryNetTest, InterruptEndsTheWaitAtOnce) {
  int replies = -1;
  std::chrono::milliseconds elapsed{0};
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    auto library = LoadIcmpLibrary(GetParam());
    auto channel = library ? library->CreateChannel() : nullptr;
    if (!channel) return;
    IcmpEchoReply reply;
    // The interrupt comes 100 ms after the clock starts, however late the
    // stopper thread runs.
    const auto start = Clock::now();
    std::thread stopper([&] {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(100));
      channel->Interrupt();
    });
    replies = channel->SendEcho(Net("198.18.7.1"), {}, {}, reply, 10000);
    elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    stopper.join();
    EXPECT_EQ(reply.Status, kIpRequestTimedOut);
  }));
  EXPECT_EQ(replies, 0);
  EXPECT_GE(elapsed.count(), 100);
  EXPECT_LT(elapsed.count(), 1000);
}

// An interrupt that comes between two requests ends the next one, even when
// its answer is already there (loopback), and only that one.
TEST_P(IcmpLibraryNetTest, AnInterruptBetweenRequestsEndsTheNextOneOnly) {
  std::vector<EchoResult> results;
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    auto library = LoadIcmpLibrary(GetParam());
    auto channel = library ? library->CreateChannel() : nullptr;
    if (!channel) return;
    channel->Interrupt();
    for (int i = 0; i < 2; ++i) {
      EchoResult r;
      r.replies = channel->SendEcho(Net("127.0.0.1"), {}, {}, r.reply, 2000);
      results.push_back(r);
    }
  }));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].replies, 0);
  EXPECT_EQ(results[0].reply.Status, kIpRequestTimedOut);
  EXPECT_EQ(results[1].replies, 1);
  EXPECT_EQ(results[1].reply.Status, kIpSuccess);
}

TEST_P(IcmpLibraryNetTest, TtlAndTosReachTheWire) {
  EchoResponder responder(Dly(), std::chrono::microseconds(0));
  ASSERT_TRUE(responder.Start());
  EchoResult r = Echo("198.18.4.2", {9, 0x28});
  ASSERT_EQ(r.replies, 1);
  EXPECT_EQ(r.reply.Status, kIpSuccess);
  auto seen = responder.Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].tos, 0x28);
  EXPECT_EQ(seen[0].ttl, 8) << "one router on the way";
  EXPECT_EQ(seen[0].source, Net("198.18.1.2"));
}

TEST_P(IcmpLibraryNetTest, RoundTripMatchesAKnownDelay) {
  EchoResponder responder(Dly(), std::chrono::milliseconds(50));
  ASSERT_TRUE(responder.Start());
  for (int i = 0; i < 5; ++i) {
    EchoResult r = Echo("198.18.4.2");
    ASSERT_EQ(r.replies, 1);
    EXPECT_EQ(r.reply.Status, kIpSuccess);
    EXPECT_GE(r.reply.RoundTripTime, 50u);
    EXPECT_LE(r.reply.RoundTripTime, 55u);
    EXPECT_GE(r.reply.RoundTripMicroseconds, 50'000u);
    EXPECT_LE(r.reply.RoundTripMicroseconds, 55'000u);
  }
}

TEST_P(IcmpLibraryNetTest, StrayAndLateRepliesAreNotTakenForTheCurrentOne) {
  EchoResponder responder(Dly(), std::chrono::milliseconds(150), {true, true});
  ASSERT_TRUE(responder.Start());
  struct Step {
    int replies;
    IcmpEchoReply reply;
  };
  std::vector<Step> steps;
  // One channel for all requests, as a probe keeps it: the first request
  // gives up before its answer comes, which then arrives (twice, after a
  // stranger's) while the second request waits for its own.
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    auto library = LoadIcmpLibrary(GetParam());
    auto channel = library ? library->CreateChannel() : nullptr;
    if (!channel) return;
    std::vector<uint8_t> data(32, 0xA7);
    for (int timeout : {50, 1000, 1000}) {
      Step step{};
      step.replies = channel->SendEcho(Net("198.18.4.2"), data, {}, step.reply, timeout);
      steps.push_back(step);
    }
  }));
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].replies, 0);
  for (int i : {1, 2}) {
    ASSERT_EQ(steps[static_cast<size_t>(i)].replies, 1) << i;
    EXPECT_EQ(steps[static_cast<size_t>(i)].reply.Status, kIpSuccess);
    // Its own answer comes after the full delay; the earlier one's would
    // have come sooner.
    EXPECT_GE(steps[static_cast<size_t>(i)].reply.RoundTripTime, 150u) << i;
    EXPECT_LE(steps[static_cast<size_t>(i)].reply.RoundTripTime, 160u) << i;
  }
}

// Every channel of a namespace sends through the same socket, whose answers
// are sorted to the request that each one names.
TEST_P(IcmpLibraryNetTest, ChannelsShareOneSocketAndGetTheirOwnAnswers) {
  std::shared_ptr<IcmpLibrary> library;
  {
    NetnsGuard inClient(Cli());
    library = LoadIcmpLibrary(GetParam());
  }
  ASSERT_NE(library, nullptr);
  constexpr int kChannels = 64;
  std::vector<EchoResult> results(kChannels);
  SocketTable table;
  ASSERT_TRUE(RunTogether(Cli(), kChannels, *library, [&](int i, IcmpChannel& channel) {
    const std::string target = "127.0.0." + std::to_string(i + 1);
    std::vector<uint8_t> data(static_cast<size_t>(i), 0xA7);
    auto& r = results[static_cast<size_t>(i)];
    r.replies = channel.SendEcho(Net(target.c_str()), data, {}, r.reply, 2000);
    if (i == 0) table = IcmpSockets(GetParam());
  }));
  EXPECT_EQ(table.sockets, 1);
  for (int i = 0; i < kChannels; ++i) {
    const std::string target = "127.0.0." + std::to_string(i + 1);
    ASSERT_EQ(results[static_cast<size_t>(i)].replies, 1) << target;
    EXPECT_EQ(results[static_cast<size_t>(i)].reply.Status, kIpSuccess) << target;
    EXPECT_EQ(results[static_cast<size_t>(i)].reply.Address, Net(target.c_str()));
  }
}

// The caller that reads the socket for everybody is ended (its worker stops,
// its host is deleted) while another waits: that one still gets its answer,
// and on time.
TEST_P(IcmpLibraryNetTest, EndingTheReadingCallerLosesNoOtherAnswer) {
  EchoResponder responder(Dly(), std::chrono::milliseconds(150));
  ASSERT_TRUE(responder.Start());
  EchoResult reader, other;
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    auto library = LoadIcmpLibrary(GetParam());
    ASSERT_NE(library, nullptr);
    auto first = library->CreateChannel();
    auto second = library->CreateChannel();
    ASSERT_TRUE(first && second);
    std::thread silent([&] {
      // First to wait, so it reads for both.
      auto start = Clock::now();
      reader.replies = first->SendEcho(Net("198.18.7.1"), {}, {}, reader.reply, 5000);
      reader.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
      first.reset();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    std::thread answered([&] {
      auto start = Clock::now();
      other.replies = second->SendEcho(Net("198.18.4.2"), {}, {}, other.reply, 2000);
      other.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    first->Interrupt();
    silent.join();
    answered.join();
  }));
  EXPECT_EQ(reader.replies, 0);
  EXPECT_EQ(reader.reply.Status, kIpRequestTimedOut);
  EXPECT_LT(reader.elapsed.count(), 1000);
  ASSERT_EQ(other.replies, 1);
  EXPECT_EQ(other.reply.Status, kIpSuccess);
  EXPECT_GE(other.reply.RoundTripTime, 150u);
  EXPECT_LE(other.reply.RoundTripTime, 160u);
  EXPECT_LT(other.elapsed.count(), 400);
}

// Answers that come back all at once to a receive buffer far too small for
// them: the socket drops most, and every request still gets its own answer.
TEST_P(IcmpLibraryNetTest, ABurstThatOverflowsTheReceiveBufferLosesNoAnswer) {
  constexpr int kCallers = 60;
  EchoResponder responder(Dly(), std::chrono::milliseconds(50),
                          {false, false, static_cast<std::size_t>(kCallers)});
  ASSERT_TRUE(responder.Start());
  std::shared_ptr<IcmpLibrary> library;
  {
    NetnsGuard inClient(Cli());
    // The kernel's smallest buffer: a few answers fit.
    library = LoadIcmpLibrary(GetParam(), IcmpLibraryTuning{1});
  }
  ASSERT_NE(library, nullptr);
  std::vector<EchoResult> results(kCallers);
  ASSERT_TRUE(RunTogether(Cli(), kCallers, *library, [&](int i, IcmpChannel& channel) {
    std::vector<uint8_t> data(56, 0xA7);
    auto& r = results[static_cast<size_t>(i)];
    r.replies = channel.SendEcho(Net("198.18.4.2"), data, {}, r.reply, 8000);
  }));
  SocketTable table;
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) { table = IcmpSockets(GetParam()); }));
  EXPECT_GT(table.drops, 0) << "no answer was dropped: the burst did not fill the buffer";
  for (int i = 0; i < kCallers; ++i) {
    ASSERT_EQ(results[static_cast<size_t>(i)].replies, 1) << "caller " << i;
    EXPECT_EQ(results[static_cast<size_t>(i)].reply.Status, kIpSuccess) << "caller " << i;
    EXPECT_EQ(results[static_cast<size_t>(i)].reply.Address, Net("198.18.4.2"));
  }
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, IcmpLibraryNetTest,
                         ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         KindName);

// Probes as the program drives them, over the real library.
class ProbeNetTest : public ::testing::TestWithParam<IcmpSocketKind>, protected NetTest {
 protected:
  void TearDown() override { TearDownNet(); }
  void SetUp() override {
    BringUp();
    if (IsSkipped() || HasFatalFailure()) return;
    testing::RaiseOpenFileLimit();
    context.mode = IcmpMode::Library;
    NetnsGuard inClient(Cli());
    ASSERT_TRUE(inClient.ok());
    context.library = LoadIcmpLibrary(GetParam());
    ASSERT_NE(context.library, nullptr);
  }
  IcmpContext context;
};

TEST_P(ProbeNetTest, TraceFindsTheChainAndStopsAtTheTarget) {
  struct Hop {
    int32_t hop;
    uint32_t address;
  };
  std::vector<Hop> hops;
  std::vector<std::string> lines;
  std::vector<std::string> shortLines;
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    TraceProbe trace(context);
    trace.targetText = "198.18.3.2";
    trace.timeout = 1000;
    trace.ttl = 30;
    trace.OnHop = [&](TraceProbe&, int32_t hop, const IpAddress& address, uint32_t) {
      hops.push_back({hop, address.V4Value()});
    };
    trace.Run();
    lines = trace.hopLines();
    trace.ttl = 2;
    trace.OnHop = nullptr;
    trace.Run();
    shortLines = trace.hopLines();
  }));
  ASSERT_EQ(hops.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(hops[static_cast<size_t>(i)].hop, i + 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"198.18.1.1", "198.18.2.2", "198.18.3.2"}));
  EXPECT_EQ(shortLines, (std::vector<std::string>{"198.18.1.1", "198.18.2.2"}));
}

TEST_P(ProbeNetTest, TraceIntoAnUnreachableNetEnds) {
  std::vector<std::string> lines;
  Clock::time_point start = Clock::now();
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    TraceProbe trace(context);
    trace.targetText = "198.18.9.1";
    trace.timeout = 1000;
    trace.ttl = 60;
    trace.Run();
    lines = trace.hopLines();
  }));
  EXPECT_EQ(lines, (std::vector<std::string>{"198.18.1.1", "198.18.2.2"}));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

TEST_P(ProbeNetTest, HostThatStopsAnsweringTimesOut) {
  std::vector<uint32_t> statuses;
  std::chrono::milliseconds lastElapsed{0};
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    PingProbe probe(context);
    probe.targetText = "198.18.3.2";
    probe.timeout = 500;
    probe.OnEcho = [&](EchoProbe&, uint32_t status, const IpAddress&, uint32_t, const EchoDetail&,
                       const std::string&) {
      statuses.push_back(status);
    };
    probe.Run();
    std::string down = "ip -n " + Topology().Name("tgt") + " link set t0 down";
    ASSERT_EQ(std::system(down.c_str()), 0);
    auto start = Clock::now();
    probe.Run();
    lastElapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  }));
  EXPECT_EQ(statuses, (std::vector<uint32_t>{kIpSuccess, kIpRequestTimedOut}));
  EXPECT_GE(lastElapsed.count(), 500);
  EXPECT_LT(lastElapsed.count(), 500 + 150);
}

// 200 probes on 200 threads at once, mixed targets: every result must reach
// its own probe, with its own tag and the answer that belongs to its target.
TEST_P(ProbeNetTest, ConcurrentProbesNeverMixResults) {
  constexpr int kProbes = 200;
  constexpr int kRounds = 2;
  struct Expect {
    std::string target;
    uint8_t ttl;
    uint32_t status;
    uint32_t address;
  };
  // Answers from the target, from each router (TTL expired) and from
  // nobody (a route that drops everything), spread over the threads.
  auto expectFor = [](int i) -> Expect {
    std::string silent = "198.18.7." + std::to_string(i % 250);
    switch (i % 4) {
      case 0: return {"198.18.3.2", 255, kIpSuccess, Net("198.18.3.2")};
      case 1: return {silent, 255, kIpRequestTimedOut, Net(silent.c_str())};
      case 2: return {"198.18.3.2", 2, kIpTtlExpiredTransit, Net("198.18.2.2")};
      default: return {"198.18.3.2", 1, kIpTtlExpiredTransit, Net("198.18.1.1")};
    }
  };
  struct Seen {
    uint32_t status;
    uint32_t address;
    std::string tag;
    const EchoProbe* sender;
  };
  std::vector<std::vector<Seen>> seen(kProbes);
  std::vector<const EchoProbe*> probes(kProbes);
  ASSERT_TRUE(RunThreadsIn(Cli(), kProbes, [&](int i) {
    PingProbe probe(context);
    probes[static_cast<size_t>(i)] = &probe;
    probe.targetText = expectFor(i).target;
    probe.ttl = expectFor(i).ttl;
    probe.tag = "host-" + std::to_string(i);
    probe.timeout = 1500;  // room for a loaded machine; the silent ones wait it out
    probe.OnEcho = [&seen, i](EchoProbe& sender, uint32_t status, const IpAddress& address,
                              uint32_t, const EchoDetail&, const std::string& tag) {
      seen[static_cast<size_t>(i)].push_back({status, address.V4Value(), tag, &sender});
    };
    for (int round = 0; round < kRounds; ++round) probe.Run();
  }));
  for (int i = 0; i < kProbes; ++i) {
    const auto& results = seen[static_cast<size_t>(i)];
    Expect e = expectFor(i);
    ASSERT_EQ(results.size(), size_t{kRounds}) << "probe " << i;
    for (const Seen& s : results) {
      EXPECT_EQ(s.tag, "host-" + std::to_string(i));
      EXPECT_EQ(s.sender, probes[static_cast<size_t>(i)]);
      EXPECT_EQ(s.status, e.status) << "probe " << i << " to " << e.target;
      EXPECT_EQ(s.address, e.address) << "probe " << i << " to " << e.target;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, ProbeNetTest,
                         ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         KindName);

class SingleNetTest : public ::testing::Test, protected NetTest {
 protected:
  void SetUp() override {
    BringUp();
    if (IsSkipped() || HasFatalFailure()) return;
  }
  void TearDown() override { TearDownNet(); }
};

TEST_F(SingleNetTest, ClientNamespaceGetsTheLibrary) {
  IcmpMode mode = IcmpMode::None;
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    mode = DetectSystemIcmpMode().mode;
  }));
  EXPECT_EQ(mode, IcmpMode::Library);
}

// The raw-socket path: replies and time-outs arrive on the poll loop's thread.
TEST_F(SingleNetTest, RawPathRepliesAndTimeOutsArriveOnTheNotifierThread) {
  PollSocketNotifier notifier;
  IcmpContext context;
  context.mode = IcmpMode::RawOnly;
  context.openRawSocket = OpenRawIcmpSocket;
  context.notifier = &notifier;
  struct Seen {
    std::string tag;
    uint32_t status;
    uint32_t address;
    std::thread::id thread;
  };
  std::vector<Seen> seen;
  std::thread::id loopThread;
  std::vector<std::unique_ptr<PingProbe>> probes;
  auto handler = [&](EchoProbe&, uint32_t status, const IpAddress& address, uint32_t,
                     const EchoDetail&, const std::string& tag) {
    seen.push_back({tag, status, address.V4Value(), std::this_thread::get_id()});
  };
  for (const char* target : {"127.0.0.1", "198.18.3.2", "198.18.7.1"}) {
    auto probe = std::make_unique<PingProbe>(context);
    probe->targetText = target;
    probe->tag = target;
    probe->timeout = 300;
    probe->OnEcho = handler;
    probes.push_back(std::move(probe));
  }
  std::thread loop([&] {
    loopThread = std::this_thread::get_id();
    notifier.RunFor(std::chrono::milliseconds(800));
  });
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    for (auto& probe : probes) probe->Run();
  }));
  loop.join();
  probes.clear();
  ASSERT_EQ(seen.size(), 3u);
  std::sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) { return a.tag < b.tag; });
  EXPECT_EQ(seen[0].tag, "127.0.0.1");
  EXPECT_EQ(seen[0].status, kIpSuccess);
  EXPECT_EQ(seen[1].tag, "198.18.3.2");
  EXPECT_EQ(seen[1].status, kIpSuccess);
  EXPECT_EQ(seen[2].tag, "198.18.7.1");
  EXPECT_EQ(seen[2].status, kIpRequestTimedOut);
  EXPECT_EQ(seen[2].address, Net("198.18.7.1"));
  for (const Seen& s : seen) EXPECT_EQ(s.thread, loopThread);
}

}  // namespace
}  // namespace sentrel
