
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/fake_desktop.h"
#include "fakes/fake_icmp.h"
#include "platform/socket_api.h"
#include "probes/echo_request.h"
#include "probes/icmp_mode.h"
#include "probes/ping_probe.h"
#include "probes/trace_probe.h"

namespace sentrel {
namespace {

using testing::FakeDesktop;
using testing::FakeIcmpLibrary;
using testing::FakeRawIcmpSocket;
using testing::FakeSocketNotifier;

uint32_t Net(const char* dotted) { return inet_addr(dotted); }

struct Echo {
  uint32_t status;
  uint32_t address;
  uint32_t rtt;
  std::string tag;
  bool operator==(const Echo&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Echo& e) {
  return out << "{" << e.status << ", " << e.address << ", " << e.rtt << ", " << e.tag << "}";
}

struct ModeCase {
  bool libraryLoads;
  bool libraryLoadsSecondTime;
  bool rawOpens;
  bool rawTakesTtl;
  IcmpMode mode;
  int libraryLoads_calls;
};

class IcmpModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(IcmpModeTest, DetectionFollowsWhatTheSystemAllows) {
  const ModeCase& c = GetParam();
  int loads = 0;
  auto library = std::make_shared<FakeIcmpLibrary>();
  IcmpLibraryLoader loader = [&]() -> std::shared_ptr<IcmpLibrary> {
    ++loads;
    bool ok = loads == 1 ? c.libraryLoads : c.libraryLoadsSecondTime;
    return ok ? library : nullptr;
  };
  auto rawState = std::make_shared<FakeRawIcmpSocket::State>();
  rawState->refuseTtl = !c.rawTakesTtl;
  RawIcmpSocketOpener opener = [&]() -> std::unique_ptr<RawIcmpSocket> {
    if (!c.rawOpens) return nullptr;
    return std::make_unique<FakeRawIcmpSocket>(rawState);
  };
  IcmpContext context = DetectIcmpMode(loader, opener);
  EXPECT_EQ(context.mode, c.mode);
  EXPECT_EQ(loads, c.libraryLoads_calls);
  bool wantLibrary = c.mode == IcmpMode::Library || c.mode == IcmpMode::RawAndLibrary;
  EXPECT_EQ(context.library != nullptr, wantLibrary);
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, IcmpModeTest,
    ::testing::Values(ModeCase{true, true, true, true, IcmpMode::Library, 1},
                      ModeCase{false, false, true, true, IcmpMode::RawOnly, 1},
                      ModeCase{false, true, true, false, IcmpMode::RawAndLibrary, 2},
                      ModeCase{false, false, true, false, IcmpMode::RawNoLibrary, 2},
                      ModeCase{false, false, false, true, IcmpMode::None, 1}));

// A library that is not ready at first is asked again until it is, within
// the bound, and a stop ends the waiting at once.
TEST(PatientIcmpLoaderTest, AsksAgainWithinItsBoundAndStopsWhenTold) {
  auto library = std::make_shared<FakeIcmpLibrary>();
  int refusals = 3;
  const IcmpLibraryLoader lateLibrary = [&]() -> std::shared_ptr<IcmpLibrary> {
    return refusals-- > 0 ? nullptr : library;
  };
  using std::chrono::milliseconds;
  int attempts = 0;
  EXPECT_EQ(PatientIcmpLoader(lateLibrary, milliseconds(5000), milliseconds(1), {}, &attempts)(),
            library);
  EXPECT_EQ(attempts, 4);

  const IcmpLibraryLoader never = [] { return std::shared_ptr<IcmpLibrary>(); };
  attempts = 0;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(PatientIcmpLoader(never, milliseconds(50), milliseconds(10), {}, &attempts)(), nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - started, milliseconds(50));
  EXPECT_GE(attempts, 2);
  EXPECT_LE(attempts, 7) << "asks every pause, not in a busy loop";

  attempts = 0;
  EXPECT_EQ(PatientIcmpLoader(never, milliseconds(60000), milliseconds(10), [] { return true; },
                              &attempts)(),
            nullptr);
  EXPECT_EQ(attempts, 1);
}

// A probe over the fake library, with the events it raised.
class LibraryPingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context.mode = IcmpMode::Library;
    context.library = library;
    context.desktop = &desktop;
    probe = std::make_unique<PingProbe>(context);
    probe->OnEcho = [this](EchoProbe& sender, uint32_t status, const IpAddress& address,
                           uint32_t rtt, const EchoDetail&, const std::string& tag) {
      EXPECT_EQ(&sender, probe.get());
      events.push_back({status, address.V4Value(), rtt, tag});
    };
    probe->tag = "host-a";
  }

  std::shared_ptr<FakeIcmpLibrary> library = std::make_shared<FakeIcmpLibrary>();
  FakeDesktop desktop;
  IcmpContext context;
  std::unique_ptr<PingProbe> probe;
  std::vector<Echo> events;
};

TEST_F(LibraryPingTest, ReportsTheAnswerAsItCame) {
  // Includes a reply from another address than the target: passed on as is.
  library->Answer(Net("198.18.3.2"), IcmpEchoReply{Net("198.18.3.2"), 0, 12});
  library->Answer(Net("198.18.3.3"), IcmpEchoReply{Net("198.18.3.9"), 0, 4});
  library->Answer(Net("198.18.3.4"), IcmpEchoReply{Net("198.18.2.2"), kIpTtlExpiredTransit, 7});
  for (const char* target : {"198.18.3.2", "198.18.3.3", "198.18.3.4"}) {
    probe->targetText = target;
    probe->Run();
  }
  EXPECT_EQ(events, (std::vector<Echo>{{0, Net("198.18.3.2"), 12, "host-a"},
                                       {0, Net("198.18.3.9"), 4, "host-a"},
                                       {11013, Net("198.18.2.2"), 7, "host-a"}}));
  EXPECT_EQ(library->ChannelsCreated(), 1) << "the channel is kept between requests";
}

TEST_F(LibraryPingTest, NoReplyIsReportedAsTimedOutWithTheTarget) {
  probe->targetText = "198.18.7.1";
  probe->Run();
  probe->targetText = "";
  probe->Run();
  EXPECT_EQ(events, (std::vector<Echo>{{11010, Net("198.18.7.1"), 0, "host-a"},
                                       {11010, kNoAddress, 0, "host-a"}}));
}

TEST_F(LibraryPingTest, SettingsReachTheLibrary) {
  probe->targetText = "198.18.3.2";
  probe->dataSize = 0;
  probe->ttl = 3;
  probe->tos = 0x28;
  probe->timeout = 750;
  probe->Run();
  probe->dataSize = 255;
  probe->Run();
  auto requests = library->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].data.empty());
  EXPECT_EQ(requests[0].options.Ttl, 3);
  EXPECT_EQ(requests[0].options.Tos, 0x28);
  EXPECT_EQ(requests[0].timeoutMs, 750);
  EXPECT_EQ(requests[1].data, std::vector<uint8_t>(255, 0xA7));
}

TEST_F(LibraryPingTest, RefusedChannelGivesTimedOutAndIsTriedAgain) {
  library->RefuseChannels(true);
  probe->targetText = "198.18.3.2";
  probe->Run();
  library->RefuseChannels(false);
  library->Answer(Net("198.18.3.2"), IcmpEchoReply{Net("198.18.3.2"), 0, 1});
  probe->Run();
  EXPECT_EQ(events, (std::vector<Echo>{{11010, Net("198.18.3.2"), 0, "host-a"},
                                       {0, Net("198.18.3.2"), 1, "host-a"}}));
}

TEST_F(LibraryPingTest, WithoutAnyMechanismShowsAMessageAndReportsNothing) {
  context.mode = IcmpMode::None;
  probe->targetText = "198.18.3.2";
  probe->Run();
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(desktop.Calls(), std::vector<std::string>{"box:Sentrel:No ICMP available"});
  EXPECT_TRUE(library->Requests().empty());
}

TEST_F(LibraryPingTest, MessageGoesThroughTheWindowThreadHandOff) {
  context.mode = IcmpMode::None;
  int handOffs = 0;
  context.onWindowThread = [&](const std::function<void()>& step) {
    ++handOffs;
    step();
  };
  probe->Run();
  EXPECT_EQ(handOffs, 1);
  EXPECT_EQ(desktop.Calls().size(), 1u);
}

// The raw-socket path with a fake socket and a hand-fired notifier.
class RawPingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context.mode = IcmpMode::RawOnly;
    context.notifier = &notifier;
    context.openRawSocket = [this]() -> std::unique_ptr<RawIcmpSocket> {
      ++opened;
      return std::make_unique<FakeRawIcmpSocket>(state, kFd);
    };
    probe = std::make_unique<PingProbe>(context);
    probe->OnEcho = [this](EchoProbe&, uint32_t status, const IpAddress& address, uint32_t rtt,
                           const EchoDetail&, const std::string& tag) {
      events.push_back({status, address.V4Value(), rtt, tag});
    };
    probe->targetText = "198.18.3.2";
    probe->tag = "raw-host";
  }

  // The reply that a target would send to the last request.
  std::vector<uint8_t> ReplyToLast(uint8_t type = 0, uint8_t firstByte = 0x45) {
    std::vector<uint8_t> datagram(20, 0);
    datagram[0] = firstByte;
    datagram[9] = 1;
    uint32_t source = Net("198.18.3.2");
    std::memcpy(&datagram[12], &source, 4);
    const std::vector<uint8_t>& request = state->sent.back().message;
    datagram.push_back(type);
    for (size_t i = 1; i < request.size(); ++i) datagram.push_back(request[i]);
    return datagram;
  }

  static constexpr int kFd = 4242;
  std::shared_ptr<FakeRawIcmpSocket::State> state = std::make_shared<FakeRawIcmpSocket::State>();
  FakeSocketNotifier notifier;
  IcmpContext context;
  int opened = 0;
  std::unique_ptr<PingProbe> probe;
  std::vector<Echo> events;
};

TEST_F(RawPingTest, SendsTheRequestAndReportsItsReplyLater) {
  probe->dataSize = 33;
  probe->ttl = 7;
  probe->tos = 0x10;
  probe->Run();
  ASSERT_EQ(state->sent.size(), 1u);
  EXPECT_TRUE(events.empty()) << "the raw path returns before the reply";
  const auto& sent = state->sent[0];
  EXPECT_EQ(sent.address, Net("198.18.3.2"));
  EXPECT_EQ(sent.message.size(), 12u + 33u);
  EXPECT_EQ(InternetChecksum(sent.message), 0);
  EXPECT_EQ(sent.ttl, 7);
  EXPECT_EQ(sent.tos, 0x10);
  ASSERT_TRUE(notifier.Watching(kFd));
  // The kernel filter is asked for our identifier as it lies on the wire.
  ASSERT_TRUE(state->keptIdentifier.has_value());
  EXPECT_EQ(*state->keptIdentifier, sent.message[4] << 8 | sent.message[5]);

  state->incoming.push_back(ReplyToLast(8));        // own request on loopback
  state->incoming.push_back(ReplyToLast(0, 0x46));  // IP options
  std::vector<uint8_t> foreign = ReplyToLast();
  foreign[24] ^= 0xFF;                               // another probe's identifier
  state->incoming.push_back(foreign);
  state->incoming.push_back(ReplyToLast());
  state->incoming.push_back(ReplyToLast());  // duplicate: already answered
  notifier.FireReadable(kFd);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].status, 0u);
  EXPECT_EQ(events[0].address, Net("198.18.3.2"));
  EXPECT_EQ(events[0].tag, "raw-host");
  EXPECT_LT(events[0].rtt, 1000u);
}

TEST_F(RawPingTest, UnansweredRequestIsReportedAfterItsTimeOut) {
  probe->timeout = 0;
  probe->Run();
  ASSERT_TRUE(notifier.TimerDelay(kFd).has_value());
  EXPECT_EQ(*notifier.TimerDelay(kFd), std::chrono::milliseconds(0));
  notifier.FireTimer(kFd);
  EXPECT_EQ(events, (std::vector<Echo>{{11010, Net("198.18.3.2"), 0, "raw-host"}}));
  // A reply that comes after the time-out was reported is dropped.
  state->incoming.push_back(ReplyToLast());
  notifier.FireReadable(kFd);
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(RawPingTest, TimerWaitsForTheEarliestOpenRequest) {
  probe->timeout = 5000;
  probe->Run();
  auto delay = notifier.TimerDelay(kFd);
  ASSERT_TRUE(delay.has_value());
  EXPECT_GT(*delay, std::chrono::milliseconds(4000));
  notifier.FireTimer(kFd);  // early wake-up: nothing has expired yet
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(notifier.TimerDelay(kFd).has_value()) << "re-armed for the open request";
}

TEST_F(RawPingTest, SendFailureIsReportedNotSwallowed) {
  state->refuseSend = true;
  probe->Run();
  notifier.FireTimer(kFd);
  EXPECT_EQ(events, (std::vector<Echo>{{11010, Net("198.18.3.2"), 0, "raw-host"}}));
}

TEST_F(RawPingTest, EachRequestGetsTheNextProcessSequence) {
  probe->Run();
  probe->Run();
  ASSERT_EQ(state->sent.size(), 2u);
  EXPECT_EQ(opened, 1);
  auto sequence = [](const std::vector<uint8_t>& m) { return m[6] | m[7] << 8; };
  EXPECT_EQ((sequence(state->sent[0].message) + 1) & 0xFFFF, sequence(state->sent[1].message));
  // Two probes of one process never share an identifier.
  PingProbe other(context);
  other.targetText = "198.18.3.2";
  auto otherState = std::make_shared<FakeRawIcmpSocket::State>();
  context.openRawSocket = [&]() -> std::unique_ptr<RawIcmpSocket> {
    return std::make_unique<FakeRawIcmpSocket>(otherState, kFd + 1);
  };
  other.Run();
  ASSERT_EQ(otherState->sent.size(), 1u);
  EXPECT_NE(otherState->sent[0].message[4] | otherState->sent[0].message[5] << 8,
            state->sent[0].message[4] | state->sent[0].message[5] << 8);
}

TEST_F(RawPingTest, DestroyingTheProbeStopsItsNotifications) {
  probe->Run();
  probe.reset();
  EXPECT_FALSE(notifier.Watching(kFd));
  EXPECT_FALSE(notifier.TimerDelay(kFd).has_value());
}

// A trace over the fake library along the chain 198.18.1.1, 198.18.2.2,
// target 198.18.3.2.
class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context.mode = IcmpMode::Library;
    context.library = library;
    context.desktop = &desktop;
    probe = std::make_unique<TraceProbe>(context);
    probe->targetText = "198.18.3.2";
    probe->OnHop = [this](TraceProbe&, int32_t hop, const IpAddress& address, uint32_t rtt) {
      hops.push_back({hop, address.V4Value(), rtt});
    };
  }
  void Chain() {
    library->AnswerAtTtl(target, 1, IcmpEchoReply{Net("198.18.1.1"), kIpTtlExpiredTransit, 1});
    library->AnswerAtTtl(target, 2, IcmpEchoReply{Net("198.18.2.2"), kIpTtlExpiredTransit, 2});
    library->Answer(target, IcmpEchoReply{target, 0, 3});
  }
  std::vector<uint8_t> TtlsSent() const {
    std::vector<uint8_t> ttls;
    for (const auto& r : library->Requests()) ttls.push_back(r.options.Ttl);
    return ttls;
  }

  struct Hop {
    int32_t hop;
    uint32_t address;
    uint32_t rtt;
    bool operator==(const Hop&) const = default;
  };

  const uint32_t target = Net("198.18.3.2");
  std::shared_ptr<FakeIcmpLibrary> library = std::make_shared<FakeIcmpLibrary>();
  FakeDesktop desktop;
  IcmpContext context;
  std::unique_ptr<TraceProbe> probe;
  std::vector<Hop> hops;
};

TEST_F(TraceTest, RecordsEachHopAndEndsAtTheTarget) {
  Chain();
  probe->ttl = 30;
  probe->Run();
  EXPECT_EQ(hops, (std::vector<Hop>{{1, Net("198.18.1.1"), 1},
                                    {2, Net("198.18.2.2"), 2},
                                    {3, target, 3}}));
  EXPECT_EQ(probe->hopLines(), (std::vector<std::string>{"198.18.1.1", "198.18.2.2", "198.18.3.2"}));
  EXPECT_EQ(TtlsSent(), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(probe->stopRequested());
  for (const auto& r : library->Requests()) EXPECT_EQ(r.options.Tos, 0);

  // The next trace starts afresh.
  probe->ttl = 1;
  probe->Run();
  EXPECT_EQ(probe->hopLines(), std::vector<std::string>{"198.18.1.1"});
}

TEST_F(TraceTest, HighestTtlBoundsTheTrace) {
  Chain();
  probe->ttl = 2;
  probe->Run();
  EXPECT_EQ(hops.size(), 2u);
  EXPECT_EQ(TtlsSent(), (std::vector<uint8_t>{1, 2}));
  hops.clear();
  probe->ttl = 0;
  probe->Run();
  EXPECT_TRUE(hops.empty());
  EXPECT_EQ(library->Requests().size(), 2u) << "TTL 0 sends nothing";
}

TEST_F(TraceTest, SilentHopsAreSkippedWithTheirNumbersKept) {
  library->AnswerAtTtl(target, 3, IcmpEchoReply{Net("198.18.2.2"), kIpTtlExpiredTransit, 9});
  probe->ttl = 5;
  probe->Run();
  EXPECT_EQ(hops, (std::vector<Hop>{{3, Net("198.18.2.2"), 9}}));
  EXPECT_EQ(TtlsSent(), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(TraceTest, TargetAtFirstHopGivesOneHop) {
  library->Answer(target, IcmpEchoReply{target, 0, 0});
  probe->Run();
  EXPECT_EQ(hops, (std::vector<Hop>{{1, target, 0}}));
  EXPECT_EQ(library->Requests().size(), 1u);
}

TEST_F(TraceTest, AnswerThatKeepsRepeatingIsBoundedAndEndsTheTrace) {
  // A router that has no way on answers "host unreachable" at every TTL from 2.
  library->AnswerAtTtl(target, 1, IcmpEchoReply{Net("198.18.1.1"), kIpTtlExpiredTransit, 1});
  library->Answer(target, IcmpEchoReply{Net("198.18.2.2"), kIpDestHostUnreachable, 1});
  probe->ttl = 60;
  probe->Run();
  EXPECT_EQ(hops, (std::vector<Hop>{{1, Net("198.18.1.1"), 1}, {2, Net("198.18.2.2"), 1}}));
  std::vector<uint8_t> expected{1};
  for (int i = 0; i < TraceProbe::kMaxSendsPerTtl; ++i) expected.push_back(2);
  EXPECT_EQ(TtlsSent(), expected);
}

TEST_F(TraceTest, OtherAnswersMoveOnAfterTheBound) {
  // A parameter problem says nothing about the path beyond: later TTLs are tried.
  library->AnswerAtTtl(target, 1, IcmpEchoReply{Net("198.18.1.1"), kIpParameterProblem, 1});
  library->AnswerAtTtl(target, 2, IcmpEchoReply{target, 0, 2});
  probe->ttl = 10;
  probe->Run();
  EXPECT_EQ(hops, (std::vector<Hop>{{1, Net("198.18.1.1"), 1}, {2, target, 2}}));
  EXPECT_EQ(library->Requests().size(), TraceProbe::kMaxSendsPerTtl + 1u);
}

struct TraceModeCase {
  IcmpMode mode;
  const char* message;
};

class TraceModeTest : public TraceTest, public ::testing::WithParamInterface<TraceModeCase> {};

TEST_P(TraceModeTest, WithoutTheLibraryShowsWhyAndSendsNothing) {
  context.mode = GetParam().mode;
  Chain();
  probe->Run();
  EXPECT_TRUE(hops.empty());
  EXPECT_TRUE(library->Requests().empty());
  EXPECT_EQ(desktop.Calls(), std::vector<std::string>{std::string("box:Sentrel:") + GetParam().message});
}

INSTANTIATE_TEST_SUITE_P(Modes, TraceModeTest,
                         ::testing::Values(TraceModeCase{IcmpMode::RawOnly, "Not yet implemented"},
                                           TraceModeCase{IcmpMode::RawNoLibrary, "No ICMP.DLL found"},
                                           TraceModeCase{IcmpMode::None, "No ICMP.DLL found"}));

TEST_F(TraceTest, RawModeWithLibraryStillTraces) {
  context.mode = IcmpMode::RawAndLibrary;
  Chain();
  probe->Run();
  EXPECT_EQ(hops.size(), 3u);
  EXPECT_TRUE(desktop.Calls().empty());
}

}  // namespace
}  // namespace sentrel
