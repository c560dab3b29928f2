#include "common/lenient_int.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

TEST(LenientInt, ReadsDigitsUpToTheFirstOtherCharacter) {
  EXPECT_EQ(ParseLenientInt("30"), 30);
  EXPECT_EQ(ParseLenientInt("30s"), 30);
  EXPECT_EQ(ParseLenientInt(" 30"), 0);  // a blank stops the number before any digit
  EXPECT_EQ(ParseLenientInt(""), 0);
  EXPECT_EQ(ParseLenientInt("abc"), 0);
  EXPECT_EQ(ParseLenientInt("-"), 0);
  EXPECT_EQ(ParseLenientInt("+17x3"), 17);
  EXPECT_EQ(ParseLenientInt("-250"), -250);
  EXPECT_EQ(ParseLenientInt("--5"), 0);
}

TEST(LenientInt, WrapsAroundLikeA32BitInteger) {
  EXPECT_EQ(ParseLenientInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseLenientInt("2147483648"), INT32_MIN);
  EXPECT_EQ(ParseLenientInt("4294967297"), 1);
  EXPECT_EQ(ParseLenientInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseLenientInt("99999999999"), 1215752191);
}

TEST(LenientInt, SixtyFourBitVariantKeepsAllBits) {
  EXPECT_EQ(ParseLenientInt64("-1"), -1);
  EXPECT_EQ(static_cast<uint64_t>(ParseLenientInt64("-1")), UINT64_MAX);
  EXPECT_EQ(ParseLenientInt64("281474976710655"), 281474976710655LL);
}

}  // namespace
}  // namespace sentrel
