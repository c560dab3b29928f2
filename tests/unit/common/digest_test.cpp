#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include "common/base64.h"
#include "common/md5.h"
#include "common/text.h"

namespace sentrel {
namespace {

struct DigestCase {
  std::string key;  // HMAC only
  std::string text;
  std::string hex;
};

void PrintTo(const DigestCase& c, std::ostream* os) { *os << c.hex.substr(0, 12); }

class Md5Vectors : public ::testing::TestWithParam<DigestCase> {};

TEST_P(Md5Vectors, MatchesRfc1321) {
  EXPECT_EQ(ToHex(Md5Digest(GetParam().text)), GetParam().hex);
}

// The test suite of RFC 1321, appendix A.5.
INSTANTIATE_TEST_SUITE_P(
    Rfc1321, Md5Vectors,
    ::testing::Values(
        DigestCase{"", "", "d41d8cd98f00b204e9800998ecf8427e"},
        DigestCase{"", "a", "0cc175b9c0f1b6a831c399e269772661"},
        DigestCase{"", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        DigestCase{"", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        DigestCase{"", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        DigestCase{"", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                   "d174ab98d277d9f5a5611c2c9f419d9f"},
        DigestCase{"",
                   "1234567890123456789012345678901234567890123456789012345678901234567890123456"
                   "7890",
                   "57edf4a22be3c955ac49da2e2107b67a"}));

// Lengths around the padding boundaries (55, 56, 63, 64 bytes) and input fed
// in pieces must give the digest of the whole.
TEST(Md5, PiecewiseFeedingMatchesWholeAcrossBlockBoundaries) {
  const std::string million(1000000, 'a');
  EXPECT_EQ(ToHex(Md5Digest(million)), "7707d6ae4e027c70eea2a935c2296f21");
  for (std::size_t length : {55u, 56u, 63u, 64u, 65u, 130u}) {
    const std::string text = million.substr(0, length);
    Md5 pieces;
    for (std::size_t i = 0; i < length; i += 7) pieces.Update(text.substr(i, 7));
    EXPECT_EQ(pieces.Final(), Md5Digest(text)) << length;
  }
}

class HmacMd5Vectors : public ::testing::TestWithParam<DigestCase> {};

TEST_P(HmacMd5Vectors, MatchesPublishedVectors) {
  EXPECT_EQ(ToHex(HmacMd5(GetParam().key, GetParam().text)), GetParam().hex);
}

// RFC 2202 section 2 (which repeats the three vectors of RFC 2104), and the
// CRAM-MD5 exchange of RFC 2195.
INSTANTIATE_TEST_SUITE_P(
    Rfc2202, HmacMd5Vectors,
    ::testing::Values(
        DigestCase{std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        DigestCase{"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        DigestCase{std::string(16, '\xaa'), std::string(50, '\xdd'),
                   "56be34521d144c88dbb8c733f0e8b3f6"},
        DigestCase{std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10"
                               "\x11\x12\x13\x14\x15\x16\x17\x18\x19",
                               25),
                   std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
        DigestCase{std::string(16, '\x0c'), "Test With Truncation",
                   "56461ef2342edc00f9bab995690efd4c"},
        DigestCase{std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
                   "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        DigestCase{std::string(80, '\xaa'),
                   "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
                   "6f630fad67cda0ee1fb1f562db3aa53e"},
        DigestCase{"tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>",
                   "b913a602c7eda7a495b4e6e7334d3890"}));

struct Base64Case {
  std::string bytes;
  std::string text;
};

// Names the case by its Base64 text, letters and digits only.
std::string Label(std::string_view text) {
  std::string label = "b64_";
  for (char ch : text) label.push_back(std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_');
  return label;
}

void PrintTo(const Base64Case& c, std::ostream* os) { *os << Label(c.text); }

class Base64Vectors : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64Vectors, EncodesAndDecodes) {
  EXPECT_EQ(Base64Encode(GetParam().bytes), GetParam().text);
  EXPECT_EQ(Base64Decode(GetParam().text), GetParam().bytes);
}

// RFC 4648 section 10, plus bytes that are not text.
INSTANTIATE_TEST_SUITE_P(Rfc4648, Base64Vectors,
                         ::testing::Values(Base64Case{"", ""}, Base64Case{"f", "Zg=="},
                                           Base64Case{"fo", "Zm8="}, Base64Case{"foo", "Zm9v"},
                                           Base64Case{"foob", "Zm9vYg=="},
                                           Base64Case{"fooba", "Zm9vYmE="},
                                           Base64Case{"foobar", "Zm9vYmFy"},
                                           Base64Case{std::string("\0\xff\xfe", 3), "AP/+"},
                                           Base64Case{std::string("\xfb\xef", 2), "++8="}));

class Base64Rejects : public ::testing::TestWithParam<std::string> {};

TEST_P(Base64Rejects, MalformedInputGivesNothing) {
  EXPECT_FALSE(Base64Decode(GetParam()).has_value()) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Malformed, Base64Rejects,
                         ::testing::Values("Zm9", "Zg=", "Z===", "Zg==Zg==", "Zm=v",
                                           "Zm9v\r\n", "Zm9*", "Zm9v-_==",
                                           std::string("Zm\0v", 4)));

}  // namespace
}  // namespace sentrel
