#include "export/listen_address.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

struct ListenCase {
  const char* text;
  const char* listens;  // ListenAddress::Text(), or nullptr when refused
  bool loopback = true;
};

class ListenAddressTest : public ::testing::TestWithParam<ListenCase> {};

TEST_P(ListenAddressTest, ReadsOrRefusesWithAReason) {
  const ListenCase& c = GetParam();
  std::string error;
  const auto listen = ParseListenAddress(c.text, error);
  if (c.listens == nullptr) {
    EXPECT_FALSE(listen);
    EXPECT_FALSE(error.empty());
    return;
  }
  ASSERT_TRUE(listen) << error;
  EXPECT_EQ(listen->Text(), c.listens);
  EXPECT_EQ(listen->Loopback(), c.loopback);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ListenAddressTest,
    ::testing::Values(ListenCase{"127.0.0.1:9100", "127.0.0.1:9100"},
                      ListenCase{"  10.1.2.3  ", "10.1.2.3:9639", false},
                      ListenCase{":8080", "127.0.0.1:8080"}, ListenCase{"8080", "127.0.0.1:8080"},
                      ListenCase{"LocalHost:7", "127.0.0.1:7"},
                      ListenCase{"127.9.9.9", "127.9.9.9:9639"},
                      ListenCase{"0.0.0.0:9639", "0.0.0.0:9639", false},
                      ListenCase{"[::1]:9100", "[::1]:9100"}, ListenCase{"[::1]", "[::1]:9639"},
                      // An IPv4 address in IPv6 form is listened on as IPv4.
                      ListenCase{"[::ffff:127.0.0.1]", "127.0.0.1:9639"},
                      ListenCase{"[2001:db8::5]:1", "[2001:db8::5]:1", false},
                      ListenCase{"::1", nullptr}, ListenCase{"[::1", nullptr},
                      ListenCase{"[::1]9100", nullptr}, ListenCase{"[]:9100", nullptr},
                      ListenCase{"[127.0.0.1]", nullptr}, ListenCase{"127.0.0.1:", nullptr},
                      ListenCase{"127.0.0.1:0", nullptr}, ListenCase{"127.0.0.1:65536", nullptr},
                      ListenCase{"127.0.0.1:80x", nullptr}, ListenCase{"monitor.example:9100", nullptr},
                      ListenCase{"127.0.0.256", nullptr}, ListenCase{"99999", nullptr},
                      ListenCase{"010.1.1.001:80", "10.1.1.1:80", false},
                      ListenCase{"1.2.3", nullptr}, ListenCase{"1.2.3.4.5", nullptr},
                      ListenCase{"[::]:1", "[::]:1", false},
                      ListenCase{"[1:2:3:4:5:6:7:8]", "[1:2:3:4:5:6:7:8]:9639", false},
                      ListenCase{"[::FFFF:1.2.3.4]:80", "1.2.3.4:80", false},
                      ListenCase{"[::ffff:7f00:1]", "127.0.0.1:9639"},
                      ListenCase{"[1:2:3:4:5:6:7:8:9]", nullptr}, ListenCase{"[1::2::3]", nullptr},
                      ListenCase{"[1:2:3:4:5:6:7]", nullptr}, ListenCase{"[12345::]", nullptr},
                      ListenCase{"[1:]", nullptr}, ListenCase{"[::1.2.3]", nullptr},
                      ListenCase{"[fe80::1%eth0]", nullptr}));

TEST(ListenAddressOff, EmptyTextIsOffWithoutAnError) {
  std::string error = "stale";
  EXPECT_FALSE(ParseListenAddress(" \t ", error));
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace sentrel
