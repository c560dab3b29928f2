#include "app/history_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "fakes/fake_clock.h"
#include "fakes/test_files.h"
#include "history/history_store.h"
#include "history/history_time.h"

namespace sentrel {
namespace {

using Kind = CliCommand::Kind;
using testing::Drain;
using testing::PutFile;

TEST(CliCommand, HistoryTakesARowOrAHostAndASinceDate) {
  auto c = ParseCliCommand({"--history", "2", "--since", "2026-03-01"});
  ASSERT_EQ(c.error, "");
  EXPECT_EQ(c.kind, Kind::History);
  EXPECT_EQ(c.row, 2);
  EXPECT_EQ(c.since, EncodeDateTime({2026, 3, 1, 0, 0, 0, 0}));
  c = ParseCliCommand({"--since", "2026-03-01T10:30", "--history-csv", "router"});
  ASSERT_EQ(c.error, "");
  EXPECT_EQ(c.kind, Kind::HistoryCsv);
  EXPECT_EQ(c.address, "router");
  EXPECT_EQ(c.since, EncodeDateTime({2026, 3, 1, 10, 30, 0, 0}));
  EXPECT_FALSE(ParseCliCommand({"--history", "1"}).since);

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--history", "0"}, {"--history", "-3"}, {"--history"},
        {"--history", "1", "--since", "2026-02-30"}, {"--history", "1", "--since", "yesterday"},
        {"--history", "1", "--since", "2026-03-01 25:00"}, {"--list", "--since", "2026-03-01"}}) {
    EXPECT_NE(ParseCliCommand(bad).error, "") << bad.back();
  }
}

// Row 1 is 10.0.0.1 "router"; 10.0.0.9 has left the list. On 2 March 2026
// the router answered at 10:00, was lost at 10:01 (with a trace) and
// answered again at 10:05.
class HistoryCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    PutFile(dir.Path() + "/sentrel.xml",
            "<H>\r\n<CHK>T</CHK>\r\n<HIP>10.0.0.1</HIP>\r\n<HN>router</HN>\r\n</H>\r\n");
    testing::FakeClock clock(At(10, 0));
    HistoryStoreSettings settings;
    settings.path = HistoryStore::PathIn(dir.Path());
    HistoryStore store(settings, clock);
    const HistoryHost router{"10.0.0.1", "router"};
    store.Record({router, At(10, 0), 0, 5, true, 0, -1});
    store.Record({router, At(10, 1), 11010, 0, true, 11010, 0});
    store.RecordTrace(router, At(10, 1), "=== Trace router ===\r\n1. 1ms 10.0.0.254\r\n");
    store.Record({router, At(10, 5), 0, 7, true, 0, 11010});
    store.Record({{"10.0.0.9", ""}, At(10, 2), 0, 3, true, 0, -1});
    store.Flush();
  }
  void TearDown() override {
    std::fclose(out);
    std::fclose(err);
  }
  static DateTime At(int hour, int minute) {
    return EncodeDateTime({2026, 3, 2, hour, minute, 0, 0});
  }
  int Run(const std::vector<std::string>& args) {
    const CliCommand c = ParseCliCommand(args);
    EXPECT_EQ(c.error, "");
    return ShowHistory(c, {dir.Path(), At(12, 0), out, err});
  }

  testing::TempDir dir;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
};

TEST_F(HistoryCommands, FiguresAndTimelineOfARow) {
  ASSERT_EQ(Run({"--history", "1"}), 0);
  EXPECT_EQ(Drain(out),
            "History of 10.0.0.1 (router) from 2026-03-01 12:00:00 to 2026-03-02 12:00:00\n"
            "\n"
            "Availability  33.33 %\n"
            "Loss          33.33 % (1 of 3 requests without reply)\n"
            "Round trip    min 5 ms, average 6.0 ms, max 7 ms\n"
            "Jitter        2.0 ms\n"
            "Outages       1, 0:04:00 in all\n"
            "\n"
            "Outages:\n"
            "  2026-03-02 10:01:00  to 2026-03-02 10:05:00  0:04:00  11010 timed out\n"
            "      === Trace router ===\n"
            "      1. 1ms 10.0.0.254\n");
  ASSERT_EQ(Run({"--history", "1", "--since", "2026-03-02T10:30"}), 0);
  EXPECT_NE(Drain(out).find("No outages."), std::string::npos);
}

TEST_F(HistoryCommands, CsvOfTheMinutesAndHostsThatLeftTheList) {
  ASSERT_EQ(Run({"--history-csv", "1", "--since", "2026-03-02 10:01"}), 0);
  EXPECT_EQ(Drain(out),
            "start,minutes,requests,replies,loss_percent,rtt_min_ms,rtt_avg_ms,rtt_max_ms,"
            "jitter_ms,lost_minutes\r\n"
            "2026-03-02 10:01,1,1,0,100.00,,,,,1\r\n"
            "2026-03-02 10:05,1,1,1,0.00,7,7.00,7,2.00,0\r\n");
  ASSERT_EQ(Run({"--history", "10.0.0.9"}), 0);
  EXPECT_NE(Drain(out).find("History of 10.0.0.9 from"), std::string::npos);
}

// A host that left the list is found by its name in any letter case; an
// IPv6 host's code is told in ICMPv6 words, and an outage that goes on is
// as long as it is now.
TEST_F(HistoryCommands, NamesMatchInAnyCaseAndIpv6OutagesInTheirOwnWords) {
  {
    testing::FakeClock clock(At(11, 50));
    HistoryStoreSettings settings;
    settings.path = HistoryStore::PathIn(dir.Path());
    HistoryStore store(settings, clock);
    const HistoryHost host{"2001:db8::7", "ЦОД-Север"};
    store.Record({host, At(11, 50), 11004, 0, true, 11004, -1});
    store.Record({host, At(11, 59), 11004, 0, false, 11004, 11004});
    store.Flush();
  }
  ASSERT_EQ(Run({"--history", "цод-СЕВЕР"}), 0);
  const std::string text = Drain(out);
  EXPECT_NE(text.find("Availability  0.00 %\nLoss          100.00 % (2 of 2"), std::string::npos)
      << text;
  EXPECT_NE(text.find("going on, down 0:10:00  11004 administratively prohibited"),
            std::string::npos)
      << text;
}

TEST_F(HistoryCommands, UnknownRowsHostsAndMissingHistoryAreRefused) {
  EXPECT_EQ(Run({"--history", "5"}), 2);
  EXPECT_EQ(Drain(err), "sentrel: no row 5 (the list has 1)\n");
  EXPECT_EQ(Run({"--history-csv", "mail"}), 1);
  EXPECT_EQ(Drain(err), "sentrel: no history of mail\n");
  EXPECT_EQ(ShowHistory(ParseCliCommand({"--history", "1"}), {dir.Path() + "/none", At(12, 0), out, err}), 1);
  EXPECT_NE(Drain(err).find("no history has been recorded yet"), std::string::npos);
  EXPECT_EQ(Drain(out), "");
}

}  // namespace
}  // namespace sentrel
