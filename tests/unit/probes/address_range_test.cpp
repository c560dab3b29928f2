#include "probes/address_range.h"

#include <gtest/gtest.h>

#include "probes/address.h"

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
