#include "probes/address.h"
#include "probes/host_address.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace sentrel {
namespace {

uint32_t Net(const char* dotted) { return inet_addr(dotted); }
IpAddress V4(const char* dotted) { return IpAddress::V4(inet_addr(dotted)); }

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

TEST(ResolveAddressTest, ParsesTheWrittenFormsWithoutALookup) {
  EXPECT_EQ(ResolveAddress("198.18.1.2"), V4("198.18.1.2"));
  EXPECT_EQ(ResolveAddress("127.1"), V4("127.0.0.1"));       // a.b: b fills 24 bits
  EXPECT_EQ(ResolveAddress("0x7f.0.0.1"), V4("127.0.0.1"));  // hex part
  // A leading zero means decimal in every form, never octal.
  EXPECT_EQ(ResolveAddress("010.1"), V4("10.0.0.1"));
  EXPECT_EQ(ResolveAddress("010.91.514"), V4("10.91.2.2"));
  EXPECT_EQ(ResolveAddress("::ffff:10.0.0.1"), V4("10.0.0.1")) << "mapped: pinged over IPv4";
  EXPECT_EQ(ResolveAddress("0.0.0.0"), IpAddress::V4(0));
  EXPECT_EQ(ResolveAddress("2001:DB8::7", AddressFamily::IPv4), *ParseAddress("2001:db8::7"))
      << "a written address decides its own family";
}

TEST(ResolveAddressTest, AQuadTheCheckAcceptsIsPingedAsChecked) {
  // The check reads the parts as decimal; the echo must go to the same
  // address, not to the octal reading 10.66.1.1.
  for (const char* text : {"012.66.1.1", "010.0.0.1", "1.02.003.0004"}) {
    ASSERT_TRUE(IsDottedQuad(text)) << text;
    EXPECT_EQ(ResolveAddress(text).V4Value(), *ParseDecimalQuad(text)) << text;
  }
  EXPECT_EQ(AddressText(ResolveAddress("012.66.1.1")), "12.66.1.1");
}

TEST(ResolveAddressTest, EmptyTextIsNoAddress) { EXPECT_TRUE(IsNoAddress(ResolveAddress(""))); }

TEST(ResolveAddressTest, LooksUpNamesFromTheHostsFile) {
  EXPECT_EQ(ResolveAddress("localhost"), V4("127.0.0.1"));
  EXPECT_EQ(AddressToName(V4("127.0.0.1")), "localhost");
}

struct Ipv6Case {
  const char* text;
  const char* canonical;  // nullptr: not an address
};

class Ipv6TextTest : public ::testing::TestWithParam<Ipv6Case> {};

TEST_P(Ipv6TextTest, ParsesAndWritesTheShortestForm) {
  const auto bytes = ParseIpv6Text(GetParam().text);
  if (GetParam().canonical == nullptr) {
    EXPECT_FALSE(bytes.has_value()) << GetParam().text;
    return;
  }
  ASSERT_TRUE(bytes.has_value()) << GetParam().text;
  EXPECT_EQ(Ipv6Text(*bytes), GetParam().canonical);
  in6_addr system{};
  ASSERT_EQ(inet_pton(AF_INET6, GetParam().text, &system), 1);
  EXPECT_EQ(std::memcmp(bytes->data(), &system, 16), 0) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Ipv6TextTest,
    ::testing::Values(Ipv6Case{"2001:db8::7", "2001:db8::7"},
                      Ipv6Case{"2001:DB8:0:0:0:0:0:7", "2001:db8::7"},
                      Ipv6Case{"::", "::"}, Ipv6Case{"::1", "::1"}, Ipv6Case{"fd00::", "fd00::"},
                      Ipv6Case{"2001:db8:0:1:0:0:0:1", "2001:db8:0:1::1"},
                      Ipv6Case{"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
                      Ipv6Case{"2001:db8:1:1:1:1:0:1", "2001:db8:1:1:1:1:0:1"},
                      Ipv6Case{"0001:0db8::00a0", "1:db8::a0"},
                      Ipv6Case{"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
                      Ipv6Case{"64:ff9b::198.18.0.1", "64:ff9b::c612:1"},
                      Ipv6Case{":", nullptr}, Ipv6Case{":::", nullptr},
                      Ipv6Case{"1::2::3", nullptr}, Ipv6Case{"12345::", nullptr},
                      Ipv6Case{"1:2:3:4:5:6:7", nullptr}, Ipv6Case{"1:2:3:4:5:6:7:8:9", nullptr},
                      Ipv6Case{"1:2:3:4:5:6:7:8::", nullptr}, Ipv6Case{"1:", nullptr},
                      Ipv6Case{":1", nullptr}, Ipv6Case{"::ffff:1.2.3", nullptr},
                      Ipv6Case{"::1.2.3.4:5", nullptr}, Ipv6Case{"g::1", nullptr},
                      Ipv6Case{"", nullptr}));

TEST(AddressLiteralTest, TheChecksAcceptQuadsAndIpv6WithAZone) {
  for (const char* text : {"1.2.3.4", "012.66.1.1", "2001:db8::7", "fe80::1%eth0", "fe80::1%2",
                           "::ffff:198.18.0.1"})
    EXPECT_TRUE(IsAddressLiteral(text)) << text;
  for (const char* text : {"127.1", "0x7f.0.0.1", "host.example", "fe80::1%", "fe80::1%a b",
                           "[2001:db8::7]", "2001:db8::7 ", ""})
    EXPECT_FALSE(IsAddressLiteral(text)) << text;
}

TEST(AddressLiteralTest, ZonesAreInterfacesByNameOrNumber) {
  const auto numbered = ParseAddress("fe80::1%7");
  ASSERT_TRUE(numbered.has_value());
  EXPECT_EQ(numbered->Zone(), 7u);
  const auto named = ParseAddress("fe80::1%lo");
  ASSERT_TRUE(named.has_value());
  EXPECT_EQ(named->Zone(), if_nametoindex("lo"));
  EXPECT_EQ(AddressText(*named), "fe80::1%lo");
  // An index that names no interface here is written as the number.
  EXPECT_EQ(AddressText(*ParseAddress("fe80::1%999999")), "fe80::1%999999");
}

struct HostAddressCase {
  std::string text;
  HostAddressKind kind;
  std::string stored;  // for accepted texts
  AddressFault fault = AddressFault::None;
};

class HostAddressTest : public ::testing::TestWithParam<HostAddressCase> {};

TEST_P(HostAddressTest, AcceptsOnlyWhatCanBeChecked) {
  const HostAddressCase& c = GetParam();
  const HostAddressCheck checked = CheckHostAddress(c.text);
  EXPECT_EQ(checked.kind, c.kind) << '"' << c.text << '"';
  EXPECT_EQ(checked.fault, c.fault) << '"' << c.text << '"';
  if (c.kind != HostAddressKind::Refused) {
    EXPECT_EQ(checked.text, c.stored);
  } else {
    EXPECT_FALSE(AddressFaultText(checked.fault).empty());
  }
}

const std::string kLabel63(63, 'a');
const std::string kName253 = kLabel63 + "." + kLabel63 + "." + kLabel63 + "." + std::string(61, 'b');
using K = HostAddressKind;
using F = AddressFault;

INSTANTIATE_TEST_SUITE_P(
    Table, HostAddressTest,
    ::testing::Values(
        HostAddressCase{"10.0.0.1", K::Address, "10.0.0.1"},
        HostAddressCase{"010.91.2.2", K::Address, "10.91.2.2"},
        HostAddressCase{"::ffff:10.0.0.1", K::Address, "10.0.0.1"},
        HostAddressCase{"2001:DB8::7", K::Address, "2001:db8::7"},
        HostAddressCase{"fe80::1%lo", K::Address, "fe80::1%lo"},
        HostAddressCase{"server-1.example.com", K::Name, "server-1.example.com"},
        HostAddressCase{"server-1.example.com.", K::Name, "server-1.example.com."},
        HostAddressCase{"1.2.3.4x", K::Name, "1.2.3.4x"},
        // 253 characters: three labels of 63 and one of 61; one more is too long.
        HostAddressCase{kName253, K::Name, kName253},
        HostAddressCase{kName253 + "b", K::Refused, "", F::TooLong},
        HostAddressCase{"", K::Refused, "", F::Empty},
        HostAddressCase{"1.2.3.4.5", K::Refused, "", F::BadIpv4},
        HostAddressCase{"256.1.1.1", K::Refused, "", F::BadIpv4},
        HostAddressCase{"010.91.514", K::Refused, "", F::BadIpv4},
        HostAddressCase{"10.0.0.1.", K::Refused, "", F::BadIpv4},
        HostAddressCase{" 10.0.0.1", K::Refused, "", F::Blank},
        HostAddressCase{"10.0.0.1\t", K::Refused, "", F::Blank},
        HostAddressCase{"a b", K::Refused, "", F::Blank},
        HostAddressCase{"-5", K::Refused, "", F::HyphenAtEdge},
        HostAddressCase{std::string(300, 'a'), K::Refused, "", F::TooLong},
        HostAddressCase{kLabel63 + "a.example", K::Refused, "", F::LabelTooLong},
        HostAddressCase{"255.255.255.255", K::Refused, "", F::NoAddressMark},
        HostAddressCase{"::ffff:255.255.255.255", K::Refused, "", F::NoAddressMark},
        HostAddressCase{"fe80::1%nosuchif", K::Refused, "", F::UnknownZone},
        HostAddressCase{"fe80::1%999999", K::Refused, "", F::UnknownZone},
        HostAddressCase{"fe80::1", K::Refused, "", F::ZoneNeeded},
        HostAddressCase{"1::2::3", K::Refused, "", F::BadIpv6},
        HostAddressCase{"my_pc", K::Refused, "", F::BadCharacter},
        HostAddressCase{"a..b", K::Refused, "", F::EmptyLabel},
        HostAddressCase{"host.1", K::Refused, "", F::NumericTopLabel}));

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
    EXPECT_TRUE(IsNoAddress(ResolveAddress("no-such-host.invalid")));
    // The all-ones text parses to the no-address mark, then the lookup of
    // the same text gives nothing better.
    EXPECT_TRUE(IsNoAddress(ResolveAddress("255.255.255.255")));
    EXPECT_TRUE(IsNoAddress(ResolveAddress("1.2.3.4.5")));
    EXPECT_TRUE(IsNoAddress(ResolveAddress("no-such-host.invalid", AddressFamily::IPv6)));
    EXPECT_EQ(AddressToName(V4("198.18.200.9")), "198.18.200.9");
    EXPECT_EQ(AddressToName(*ParseAddress("2001:db8::9")), "2001:db8::9");
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
        uint32_t address = ResolveAddress(dotted).V4Value();
        if (AddressToDotted(address) != dotted) ++wrong[t];
        if (i % 20 == 0 && ResolveAddress("localhost") != V4("127.0.0.1")) ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace sentrel
