#include "app/cli_command.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

using Kind = CliCommand::Kind;

TEST(CliCommand, AddTakesItsOptionsInAnyOrder) {
  const auto c = ParseCliCommand(
      {"--name", "mail server", "--add", "10.0.0.5", "--interval", "30", "-SL", "--desc", "x"});
  ASSERT_EQ(c.error, "");
  EXPECT_EQ(c.kind, Kind::Add);
  EXPECT_EQ(c.address, "10.0.0.5");
  EXPECT_EQ(c.name, "mail server");
  EXPECT_EQ(c.desc, "x");
  EXPECT_TRUE(c.hasInterval);
  EXPECT_EQ(c.interval, 30);
}

TEST(CliCommand, TextsAreReadInTheTerminalsCodePage) {
  EXPECT_EQ(ParseCliCommand({"--add", "10.0.0.5", "--name", "\x8A\xE3\xE5\xAD\xEF"}, 866).name,
            "Кухня");
  EXPECT_EQ(ParseCliCommand({"--add", "10.0.0.5", "--desc", "Кухня"}, 866).desc, "Кухня");
}

TEST(CliCommand, RowCommandsNeedAPositiveWholeNumber) {
  EXPECT_EQ(ParseCliCommand({"--remove", "3"}).row, 3);
  EXPECT_EQ(ParseCliCommand({"--enable", "1"}).kind, Kind::Enable);
  for (const char* bad : {"0", "-1", "2x", "", " 2", "99999999999"}) {
    EXPECT_NE(ParseCliCommand({"--disable", bad}).error, "") << bad;
  }
}

TEST(CliCommand, BadArgumentsGiveOneLineErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"--add"},                          // missing value
      {"--bogus"},                        // unknown
      {"--list", "--list"},               // two commands
      {"--list", "--name", "x"},          // option without --add
      {"--add", "h", "--interval", "0"},  // interval must be above 0
      {"--add", "h", "--interval", "abc"},
      {"--trace", ""},
      {"--list", "--ping"},
      {"--discover", "10.0.0.0/21"},  // more than 1024 addresses
      {"--discover", "10.0.0.0/24", "--name", "x"},
      {"--import"},
      {"--install-service", "--ping"},       // the service always checks
      {"--uninstall-service", "--metrics", "127.0.0.1:9639"},
      {"--add", "h", "--degraded-loss", "101"},
      {"--add", "h", "--degraded-checks", "0"},
      {"--add", "h", "--degraded-latency", "-1"},
      {"--enable", "1", "--degraded-latency", "5"},  // not a host setting command
      {"--set-degradation", "1"},                    // nothing to set
  };
  for (const auto& args : bad) {
    const auto c = ParseCliCommand(args);
    EXPECT_NE(c.error, "") << args[0];
    EXPECT_EQ(c.error.find('\n'), std::string::npos);
  }
}

TEST(CliCommand, DiscoverTakesAddAsItsSwitch) {
  for (const auto& args : {std::vector<std::string>{"--discover", "10.0.0.0/24", "--add"},
                           std::vector<std::string>{"--add", "--discover", "10.0.0.0/24"}}) {
    const auto c = ParseCliCommand(args);
    EXPECT_EQ(c.error, "");
    EXPECT_EQ(c.kind, CliCommand::Kind::Discover);
    EXPECT_TRUE(c.addFound);
  }
}

TEST(CliCommand, NoCommandMeansTheDefaultRunAndHeadlessTakesPing) {
  EXPECT_EQ(ParseCliCommand({}).kind, Kind::Window);
  EXPECT_EQ(ParseCliCommand({"/sl"}).kind, Kind::Window);
  const auto c = ParseCliCommand({"--headless", "--ping"});
  EXPECT_EQ(c.kind, Kind::Headless);
  EXPECT_TRUE(c.ping);
}

// The service takes its metrics address at install, and the service control
// manager hands it back to the service's run.
TEST(CliCommand, TheServiceKeepsItsMetricsAddress) {
  for (const char* word : {"--install-service", "--service"}) {
    const auto c = ParseCliCommand({word, "--metrics", "127.0.0.1:9100"});
    EXPECT_EQ(c.error, "") << word;
    EXPECT_EQ(c.metrics, "127.0.0.1:9100") << word;
  }
  EXPECT_EQ(ParseCliCommand({"--uninstall-service"}).kind, Kind::UninstallService);
}

}  // namespace
}  // namespace sentrel
