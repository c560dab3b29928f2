// ICMPv6 over the real library and probes, in the namespaces of
// scripts/netns-topology.sh (fd00::/8 only), on both socket kinds.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "netns_topology.h"
#include "platform/icmp_library.h"
#include "probes/address.h"
#include "probes/icmp_mode.h"
#include "probes/trace_probe.h"

namespace sentrel {
namespace {

using testing::NetnsTopology;
using testing::RunThreadsIn;
using Clock = std::chrono::steady_clock;

IpAddress Six(const char* text) { return *ParseAddress(text); }

class Ipv6NetTest : public ::testing::TestWithParam<IcmpSocketKind> {
 protected:
  void SetUp() override {
    if (std::string why = NetnsTopology::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(topology_.Up()) << "scripts/netns-topology.sh up failed";
  }

  struct Result {
    int replies = -1;
    Icmp6EchoReply reply;
    std::chrono::milliseconds elapsed{0};
  };

  // One request from the client namespace.
  Result Echo(const char* target, IcmpEchoOptions options = {}, int timeoutMs = 2000) {
    Result result;
    const bool moved = RunThreadsIn(Cli(), 1, [&](int) {
      auto library = LoadIcmpLibrary(GetParam());
      auto channel = library ? library->CreateChannel() : nullptr;
      if (!channel) return;
      const std::vector<uint8_t> data(56, 0xA7);
      const auto start = Clock::now();
      result.replies = channel->SendEcho6(Six(target), data, options, result.reply, timeoutMs);
      result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    });
    EXPECT_TRUE(moved);
    return result;
  }

  std::string Cli() const { return topology_.Name("cli"); }

  NetnsTopology topology_;
};

TEST_P(Ipv6NetTest, AnsweringAndSilentHosts) {
  for (const char* target : {"::1", "fd00:1::2", "fd00:3::2"}) {
    const Result r = Echo(target);
    ASSERT_EQ(r.replies, 1) << target;
    EXPECT_EQ(r.reply.Status, kIpSuccess) << target;
    EXPECT_EQ(r.reply.Address, Six(target));
  }
  const Result silent = Echo("fd00:7::1", {}, 400);
  EXPECT_EQ(silent.replies, 0);
  EXPECT_EQ(silent.reply.Status, kIpRequestTimedOut);
  EXPECT_GE(silent.elapsed.count(), 400);
  EXPECT_LT(silent.elapsed.count(), 400 + 150);
}

TEST_P(Ipv6NetTest, RoutersAnswerWithTheirErrors) {
  struct Case {
    const char* target;
    uint8_t hopLimit;
    uint32_t status;
    const char* from;
  };
  const Case cases[] = {
      {"fd00:3::2", 1, kIpTtlExpiredTransit, "fd00:1::1"},
      {"fd00:3::2", 2, kIpTtlExpiredTransit, "fd00:2::2"},
      {"fd00:8::1", 64, kIpDestNetUnreachable, "fd00:1::1"},      // r1 has no route
      {"fd00:9::1", 64, kIpDestNetUnreachable, "fd00:2::2"},      // an unreachable route
      {"fd00:a::1", 64, kIpDestProtocolUnreachable, "fd00:2::2"}, // prohibited (11004)
      {"fd00:3::99", 64, kIpDestHostUnreachable, "fd00:2::2"},    // no such neighbour
  };
  for (const Case& c : cases) {
    const Result r = Echo(c.target, {c.hopLimit, 0});
    ASSERT_EQ(r.replies, 1) << c.target << " hop limit " << int{c.hopLimit};
    EXPECT_EQ(r.reply.Status, c.status) << c.target;
    EXPECT_EQ(r.reply.Address, Six(c.from)) << c.target;
  }
}

TEST_P(Ipv6NetTest, TraceByRisingHopLimit) {
  IcmpContext context;
  context.mode = IcmpMode::Library;
  std::vector<std::string> lines;
  std::vector<int32_t> hops;
  // The first packets of fresh links wait about a second for neighbour
  // discovery; the hops' time-outs here are shorter.
  ASSERT_EQ(Echo("fd00:3::2").replies, 1);
  ASSERT_TRUE(RunThreadsIn(Cli(), 1, [&](int) {
    context.library = LoadIcmpLibrary(GetParam());
    TraceProbe trace(context);
    trace.targetText = "fd00:3::2";
    trace.timeout = 1000;
    trace.ttl = 30;
    trace.OnHop = [&](TraceProbe&, int32_t hop, const IpAddress&, uint32_t) { hops.push_back(hop); };
    trace.Run();
    lines = trace.hopLines();
  }));
  EXPECT_EQ(lines, (std::vector<std::string>{"fd00:1::1", "fd00:2::2", "fd00:3::2"}));
  EXPECT_EQ(hops, (std::vector<int32_t>{1, 2, 3}));
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, Ipv6NetTest,
                         ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         [](const ::testing::TestParamInfo<IcmpSocketKind>& kind) {
                           return kind.param == IcmpSocketKind::Datagram ? "Datagram" : "Raw";
                         });

}  // namespace
}  // namespace sentrel
