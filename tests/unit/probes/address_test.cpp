#include "probes/address.h"

#include <arpa/inet.h>
#include <sched.h>
#include <unistd.h>

#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace sentrel {
namespace {

uint32_t Net(const char* dotted) { return inet_addr(dotted); }

struct DottedCase {
  const char* text;
  bool valid;
};

class IsDottedQuadTest : public ::testing::TestWithParam<DottedCase> {};

TEST_P(IsDottedQuadTest, AcceptsExactlyFourDecimalPartsUpTo255) {
  EXPECT_EQ(IsDottedQuad(GetParam().text), GetParam().valid) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsDottedQuadTest,
    ::testing::Values(DottedCase{"1.2.3.4", true}, DottedCase{"0.0.0.0", true},
                      DottedCase{"255.255.255.255", true}, DottedCase{"010.1.1.1", true},
                      DottedCase{"1.2.3", false}, DottedCase{"1.2.3.256", false},
                      DottedCase{"1..3.4", false}, DottedCase{"1.2.3.4.5", false},
                      DottedCase{"", false}, DottedCase{"1.2.3.", false},
                      DottedCase{"a.b.c.d", false}, DottedCase{"1.2.3.4x", false},
                      DottedCase{"-1.2.3.4", false}, DottedCase{"1.2.3. 4", false},
                      DottedCase{"99999999999999999999.1.1.1", false},
                      DottedCase{"0x1.2.3.4", false}));

TEST(AddressToDottedTest, WritesBytesFromTheMostSignificantDown) {
  EXPECT_EQ(AddressToDotted(Net("127.0.0.1")), "127.0.0.1");
  EXPECT_EQ(AddressToDotted(Net("198.18.3.2")), "198.18.3.2");
  EXPECT_EQ(AddressToDotted(Net("10.0.200.7")), "10.0.200.7");
  EXPECT_EQ(AddressToDotted(kNoAddress), "255.255.255.255");
  EXPECT_EQ(AddressToDotted(0), "0.0.0.0");
}

TEST(ResolveAddressTest, ParsesTheDottedFormsWithoutALookup) {
  EXPECT_EQ(ResolveAddress("198.18.1.2"), Net("198.18.1.2"));
  EXPECT_EQ(ResolveAddress("127.1"), Net("127.0.0.1"));       // a.b: b fills 24 bits
  EXPECT_EQ(ResolveAddress("0x7f.0.0.1"), Net("127.0.0.1"));  // hex part
  EXPECT_EQ(ResolveAddress("010.0.0.1"), Net("8.0.0.1"));     // octal part, unlike IsDottedQuad
  EXPECT_EQ(ResolveAddress("0.0.0.0"), 0u);
}

TEST(ResolveAddressTest, EmptyTextIsNoAddress) { EXPECT_EQ(ResolveAddress(""), kNoAddress); }

TEST(ResolveAddressTest, LooksUpNamesFromTheHostsFile) {
  EXPECT_EQ(ResolveAddress("localhost"), Net("127.0.0.1"));
  EXPECT_EQ(AddressToName(Net("127.0.0.1")), "localhost");
}

// Runs `body` on a thread in a fresh, empty network namespace, so that a name
// lookup that misses the hosts file cannot send a query anywhere.
bool RunWithoutNetwork(const std::function<void()>& body) {
  bool isolated = false;
  std::thread worker([&] {
    if (unshare(CLONE_NEWNET) != 0) return;
    isolated = true;
    body();
  });
  worker.join();
  return isolated;
}

TEST(ResolveAddressTest, FailedLookupsFallBack) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to isolate the resolver in a namespace";
  bool ran = RunWithoutNetwork([] {
    EXPECT_EQ(ResolveAddress("no-such-host.invalid"), kNoAddress);
    // The all-ones text parses to the no-address mark, then the lookup of
    // the same text gives nothing better.
    EXPECT_EQ(ResolveAddress("255.255.255.255"), kNoAddress);
    EXPECT_EQ(ResolveAddress("1.2.3.4.5"), kNoAddress);
    EXPECT_EQ(AddressToName(Net("198.18.200.9")), "198.18.200.9");
  });
  ASSERT_TRUE(ran) << "unshare(CLONE_NEWNET) failed";
}

TEST(AddressConversionTest, ManyThreadsAtOnceGetConsistentAnswers) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < kRounds; ++i) {
        std::string dotted = "198.18." + std::to_string(t) + "." + std::to_string(i % 250);
        uint32_t address = ResolveAddress(dotted);
        if (AddressToDotted(address) != dotted) ++wrong[t];
        if (i % 20 == 0 && ResolveAddress("localhost") != inet_addr("127.0.0.1")) ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace sentrel
