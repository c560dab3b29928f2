#include "probes/address_range.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "fakes/fake_echo_library.h"
#include "probes/address.h"
#include "probes/sweep.h"

namespace sentrel {
namespace {

std::string Span(const std::string& range) {
  std::string error;
  const std::vector<IpAddress> all = ParseAddressRange(range, error);
  if (all.empty()) return "error";
  return AddressText(all.front()) + ".." + AddressText(all.back()) + " " + std::to_string(all.size());
}

TEST(AddressRangeTest, BlocksAndLastPartRanges) {
  EXPECT_EQ(Span("198.18.3.0/26"), "198.18.3.1..198.18.3.62 62");
  EXPECT_EQ(Span("198.18.3.77/26"), "198.18.3.65..198.18.3.126 62") << "the block that holds it";
  EXPECT_EQ(Span("10.0.4.0/22"), "10.0.4.1..10.0.7.254 1022");
  EXPECT_EQ(Span("10.0.0.9/32"), "10.0.0.9..10.0.0.9 1");
  EXPECT_EQ(Span("10.0.0.8/31"), "10.0.0.8..10.0.0.9 2");
  EXPECT_EQ(Span("10.0.0.250-255"), "10.0.0.250..10.0.0.255 6");
  EXPECT_EQ(Span("010.0.0.1-3"), "10.0.0.1..10.0.0.3 3");
  for (const char* bad : {"10.0.0.0/21", "10.0.0.0/33", "10.0.0.0/", "10.0.0.5-4", "10.0.0.1-256",
                          "10.0.0.0", "fd00::/120", "10.0.0/24", "10.0.0.0/24x", ""}) {
    std::string error;
    EXPECT_TRUE(ParseAddressRange(bad, error).empty()) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace sentrel

namespace sentrel {
namespace {

using testing::ScriptedEchoLibrary;

TEST(SweepTest, BoundedInFlightOnlyEchoRepliesOfTheTargetCountAndStopEndsAtOnce) {
  auto library = std::make_shared<ScriptedEchoLibrary>();
  std::atomic<int> busiest{0};
  std::string error;
  const std::vector<IpAddress> targets = ParseAddressRange("10.1.0.0/24", error);
  library->SetRule([&](uint32_t address, const IcmpEchoOptions&) {
    busiest = std::max(busiest.load(), library->InFlight() + 1);
    const uint8_t last = reinterpret_cast<const uint8_t*>(&address)[3];
    if (last % 50 == 5) return ScriptedEchoLibrary::Answer{IcmpEchoReply{address, kIpSuccess, 3}, std::chrono::milliseconds(5)};
    // A router's error, and a reply from another host: neither is an answer.
    if (last % 50 == 6) return ScriptedEchoLibrary::Answer{IcmpEchoReply{address, kIpDestHostUnreachable, 1}, {}};
    if (last % 50 == 7) return ScriptedEchoLibrary::Answer{IcmpEchoReply{address + 1, kIpSuccess, 1}, {}};
    return ScriptedEchoLibrary::Answer{std::nullopt, std::chrono::milliseconds(5)};
  });
  SweepSettings settings;
  settings.inFlight = 20;
  settings.perSecond = 100000;
  settings.nameOf = [](const IpAddress& a) { return "h" + AddressText(a); };
  Sweep sweep(library, settings);
  std::size_t lastEnded = 0;
  std::mutex progressMutex;
  const std::vector<SweepAnswer> found = sweep.Run(targets, [&](std::size_t ended, std::size_t total) {
    std::lock_guard lock(progressMutex);
    lastEnded = std::max(lastEnded, ended);
    EXPECT_EQ(total, 254u);
  });
  EXPECT_EQ(library->RequestCount(), 254) << "one echo per address";
  EXPECT_EQ(lastEnded, 254u);
  EXPECT_LE(busiest.load(), 20);
  ASSERT_EQ(found.size(), 5u);  // .5 .55 .105 .155 .205, in address order
  EXPECT_EQ(AddressText(found[0].address), "10.1.0.5");
  EXPECT_EQ(AddressText(found[4].address), "10.1.0.205");
  EXPECT_EQ(found[1].name, "h10.1.0.55");
  EXPECT_EQ(found[1].rtt, 3u);

  // Every target silent for 10 s: Stop ends the sweep within a moment.
  library->SetRule([](uint32_t, const IcmpEchoOptions&) {
    return ScriptedEchoLibrary::Answer{std::nullopt, std::chrono::seconds(10)};
  });
  settings.timeoutMs = 10000;
  Sweep slow(library, settings);
  std::thread stopper([&slow] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    slow.Stop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(slow.Run(targets).empty());
  stopper.join();
  // Well before the 10 s the requests would wait (threads start slowly under Wine).
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(slow.Stopped());
}

}  // namespace
}  // namespace sentrel
