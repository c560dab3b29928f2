#include "history/history_store.h"

#include <sqlite3.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "fakes/test_files.h"
#include "history/history_reader.h"
#include "history/sql_database.h"
#include "history_test_util.h"

namespace sentrel {
namespace {

using namespace testing;
using namespace std::chrono_literals;

const HistoryHost kHost{"10.0.0.1", "router"};

class StoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<HistoryStore> Open(HistoryStoreSettings settings = {}) {
    settings.path = path;
    settings.notice = notices.Sink();
    return std::make_unique<HistoryStore>(std::move(settings), clock);
  }
  std::vector<OutageRow> StoredOutages(const HistoryHost& host = kHost) {
    HistoryReader reader;
    if (!reader.Open(path)) return {};
    const auto id = reader.FindHost(host);
    return id ? reader.Outages(*id, 0, At(1000000000)) : std::vector<OutageRow>{};
  }
  int64_t StoredRequests(const HistoryHost& host = kHost) {
    HistoryReader reader;
    if (!reader.Open(path)) return -1;
    const auto id = reader.FindHost(host);
    if (!id) return 0;
    int64_t sent = 0;
    for (const Bucket& b : reader.Minutes(*id, 0, MinuteOfSecond(At(1000000000))))
      sent += b.stats.sent;
    return sent;
  }

  TempDir dir;
  std::string path = HistoryStore::PathIn(dir.Path());
  FakeClock clock{kStart};
  Notices notices;
};

TEST_F(StoreTest, OutageSpanningARestartIsOneOutageMarkedInterrupted) {
  {
    auto store = Open();
    HostResults host(*store, kHost);
    host.Reply(0, 5);
    host.Fail(55, false);  // an early request of the check: no outage yet
    host.Fail(60);         // the check that loses the host
    clock.Set(When(120));
    EXPECT_DOUBLE_EQ(*store->LatestOutageSeconds(kHost, When(120)), 60.0);
  }
  ASSERT_EQ(StoredOutages().size(), 1u);
  EXPECT_FALSE(StoredOutages()[0].end) << "still going on when the program ended";

  clock.Set(When(600));
  auto store = Open();
  EXPECT_DOUBLE_EQ(*store->LatestOutageSeconds(kHost, When(600)), 540.0)
      << "the new run knows the outage from the database";
  HostResults host(*store, kHost);
  host.Restart();
  host.Fail(600);  // still down after the restart
  host.Reply(900, 7);
  EXPECT_DOUBLE_EQ(*store->LatestOutageSeconds(kHost, When(1000)), 840.0);
  store->Flush();

  const std::vector<OutageRow> outages = StoredOutages();
  ASSERT_EQ(outages.size(), 1u);
  EXPECT_EQ(outages[0].start, At(60));
  EXPECT_EQ(outages[0].end, At(900));
  EXPECT_EQ(outages[0].status, 11010u);
  EXPECT_TRUE(outages[0].interrupted);
}

TEST_F(StoreTest, LossOfTheLastHourAndTheTraceOfTheLoss) {
  auto store = Open();
  HostResults host(*store, kHost);
  host.Reply(0, 5);
  host.Fail(30, false);
  host.Fail(40);
  store->RecordTrace(kHost, When(41), "=== Trace router ===\r\n1. 1ms gw [10.0.0.254]\r\n");
  host.Reply(3700, 5);
  EXPECT_DOUBLE_EQ(*store->LossLastHour(kHost, When(45)), 200.0 / 3);
  EXPECT_DOUBLE_EQ(*store->LossLastHour(kHost, When(3700)), 0.0)
      << "the minute of the failures left the hour";
  EXPECT_FALSE(store->LossLastHour({"10.9.9.9", ""}, When(45)));
  store->Flush();
  const auto outages = StoredOutages();
  ASSERT_EQ(outages.size(), 1u);
  EXPECT_EQ(outages[0].trace, "=== Trace router ===\r\n1. 1ms gw [10.0.0.254]\r\n");
  EXPECT_FALSE(outages[0].interrupted);
}

TEST_F(StoreTest, RetentionPrunesMinutesThenHoursButKeepsOutages) {
  const HistoryHost quiet{"10.0.0.2", ""};
  {
    auto store = Open();
    HostResults host(*store, kHost);
    HostResults other(*store, quiet);
    host.Reply(0, 5);
    host.Fail(60);
    host.Reply(120, 5);
    other.Reply(0, 3);
    clock.Set(When(2 * 3600));
    store->Flush();
  }
  HistoryReader reader;
  ASSERT_TRUE(reader.Open(path));
  const int64_t id = *reader.FindHost(kHost);
  const int64_t from = MinuteOfSecond(At(0));
  ASSERT_EQ(reader.Minutes(id, from, from + 60).size(), 3u);

  clock.Set(When(15 * 86400));
  Open()->Flush();
  EXPECT_TRUE(reader.Minutes(id, from, from + 60).empty()) << "minutes are kept 14 days";
  ASSERT_EQ(reader.Buckets(id, from, from + 60, 60).size(), 1u);
  EXPECT_EQ(reader.Buckets(id, from, from + 60, 60)[0].stats.sent, 3);
  EXPECT_EQ(reader.Buckets(id, from, from + 60, 1).size(), 1u)
      << "where the minutes are gone, the hour row stands in";

  clock.Set(When(731 * 86400));
  Open()->Flush();
  EXPECT_TRUE(reader.Buckets(id, from, from + 60, 60).empty()) << "hours are kept two years";
  EXPECT_EQ(StoredOutages().size(), 1u) << "state changes are kept";
  EXPECT_FALSE(reader.FindHost(quiet)) << "a host with nothing left goes";
}

TEST_F(StoreTest, DamagedFileIsMovedAsideAndANewHistoryStarts) {
  PutFile(path, std::string(8192, 'x'));
  {
    auto store = Open();
    EXPECT_NE(notices.All().find("is damaged"), std::string::npos) << notices.All();
    HostResults(*store, kHost).Reply(0, 5);
    store->Flush();
    EXPECT_FALSE(store->Paused());
  }
  EXPECT_EQ(ReadFile(path + ".damaged"), std::string(8192, 'x'));
  EXPECT_EQ(StoredRequests(), 1);

  // Damage inside: every page after the first (which holds the schema).
  const auto size = std::filesystem::file_size(path);
  ASSERT_GT(size, 4096u);
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4096);
    file << std::string(size - 4096, '\x5a');
  }
  Notices later;
  HistoryStoreSettings settings;
  settings.path = path;
  settings.notice = later.Sink();
  HistoryStore store(settings, clock);
  HostResults host(store, kHost);
  host.Reply(60, 5);
  store.Flush();
  EXPECT_NE(later.All().find("is damaged"), std::string::npos) << later.All();
  host.Reply(120, 6);
  store.Flush();
  EXPECT_FALSE(store.Paused());
  EXPECT_GE(StoredRequests(), 1) << "the new history records";
}

TEST_F(StoreTest, RoundTripsAreKeptInMicrosecondsAndAnOlderFileIsConverted) {
  const auto storedMinute = [this] {
    HistoryReader reader;
    const auto id = reader.Open(path) ? reader.FindHost(kHost) : std::nullopt;
    const auto rows = id ? reader.Minutes(*id, 0, MinuteOfSecond(At(60))) : std::vector<Bucket>{};
    return rows.empty() ? TrafficStats{} : rows[0].stats;
  };
  {
    auto store = Open();
    store->Record({kHost, When(0), 0, 0, true, 0, -1, 213});  // 0 ms, 213 us
    HostResults(*store, kHost).Reply(30, 2);                 // a probe that measures whole ms
    store->Flush();
  }
  TrafficStats minute = storedMinute();
  EXPECT_EQ(minute.rttMin, 213);
  EXPECT_EQ(minute.rttMax, 2000);
  EXPECT_EQ(minute.jitterSum, 1787);
  EXPECT_EQ(minute.RttMinMs(), 0);
  EXPECT_DOUBLE_EQ(*minute.AverageRttMs(), 1.1065);

  // The first version of the file kept whole milliseconds.
  {
    SqlDatabase db;
    ASSERT_EQ(db.Open(path, false, 2000), SQLITE_OK);
    ASSERT_EQ(db.Exec("UPDATE minutes SET rtt_min = 1, rtt_max = 5, rtt_sum = 6, jitter_sum = 4;"
                      "PRAGMA user_version = 1"),
              SQLITE_OK);
  }
  Open()->Flush();
  minute = storedMinute();
  EXPECT_EQ(minute.rttMin, 1000);
  EXPECT_EQ(minute.rttMax, 5000);
  EXPECT_EQ(minute.rttSum, 6000);
  EXPECT_EQ(minute.jitterSum, 4000);
  Open()->Flush();  // converted once only
  EXPECT_EQ(storedMinute().rttMax, 5000);
}

// Degraded periods: one per change, a repeated mark adds none, a period the
// last run left open ends where its records end, and a file of the version
// before them gains their table.
TEST_F(StoreTest, DegradedPeriodsAreKeptAcrossRestartsAndOlderFiles) {
  const auto stored = [this] {
    HistoryReader reader;
    const auto id = reader.Open(path) ? reader.FindHost(kHost) : std::nullopt;
    return id ? reader.Degradations(*id, 0, At(1000000)) : std::vector<DegradedPeriod>{};
  };
  {
    auto store = Open();
    HostResults(*store, kHost).Reply(0, 5);
    store->Flush();
  }
  {
    SqlDatabase db;
    ASSERT_EQ(db.Open(path, false, 2000), SQLITE_OK);
    ASSERT_EQ(db.Exec("DROP TABLE degradations; PRAGMA user_version = 2"), SQLITE_OK);
  }
  EXPECT_TRUE(stored().empty()) << "an older file reads as no degradation";
  {
    auto store = Open();
    HostResults host(*store, kHost);
    store->RecordDegradation(kHost, When(100), true);
    store->RecordDegradation(kHost, When(150), true);
    store->RecordDegradation(kHost, When(400), false);
    store->RecordDegradation(kHost, When(500), true);
    host.Reply(610, 300);
    store->Flush();
  }
  std::vector<DegradedPeriod> periods = stored();
  ASSERT_EQ(periods.size(), 2u);
  EXPECT_EQ(periods[0].start, At(100));
  EXPECT_EQ(periods[0].end, At(400));
  EXPECT_FALSE(periods[1].end) << "open when the program ended";
  Open()->Flush();
  periods = stored();
  ASSERT_EQ(periods.size(), 2u);
  EXPECT_EQ(periods[1].end, At(660)) << "the end of the minute of its last result";
}

// No data folder: nothing goes to the working folder, and one notice says why.
TEST_F(StoreTest, WithoutADataFolderNothingIsRecordedAnywhere) {
  const auto working = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  {
    HistoryStoreSettings settings;
    settings.path = HistoryStore::PathIn("");
    settings.notice = notices.Sink();
    HistoryStore store(settings, clock);
    HostResults host(store, kHost);
    host.Fail(0);
    store.Flush();
    clock.AdvanceSeconds(static_cast<double>(settings.retryAfter.count()) + 1);
    host.Reply(100, 5);
    store.Flush();
    EXPECT_TRUE(store.Paused());
  }
  std::filesystem::current_path(working);
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  const std::string all = notices.All();
  EXPECT_NE(all.find("no data folder"), std::string::npos) << all;
  EXPECT_EQ(all.find("no data folder"), all.rfind("no data folder")) << "told once: " << all;
}

// RLIMIT_FSIZE stands in for a full disk: writes beyond the limit fail (with
// SIGXFSZ ignored) as they do when the file system has no room.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { Lift(); }
  void Lift() {
    if (lifted_) return;
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
    lifted_ = true;
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
  bool lifted_ = false;
};

TEST_F(StoreTest, FullDiskPausesRecordingUntilThereIsRoom) {
  auto store = Open();
  HostResults(*store, kHost).Reply(0, 5);
  store->Flush();
  const auto walSize = std::filesystem::file_size(path + "-wal");

  FileSizeLimit limit(walSize);
  const auto many = [&](int64_t seconds) {
    for (int i = 0; i < 400; ++i) {
      HostResults({*store}, {"10.1." + std::to_string(i / 200) + "." + std::to_string(i % 200), ""})
          .Reply(seconds, 3);
    }
  };
  many(60);
  store->Flush();
  EXPECT_TRUE(store->Paused());
  EXPECT_NE(notices.All().find("recording is paused"), std::string::npos) << notices.All();

  // Monitoring goes on: results are still taken at once, and the figures
  // that alarms use still count them.
  HostResults host(*store, kHost);
  host.Fail(130);
  EXPECT_DOUBLE_EQ(*store->LatestOutageSeconds(kHost, When(190)), 60.0);

  limit.Lift();
  many(180);
  store->Flush();
  EXPECT_FALSE(store->Paused());
  EXPECT_NE(notices.All().find("recording resumed; 400 results were not recorded"),
            std::string::npos)
      << notices.All();
  EXPECT_EQ(StoredOutages().size(), 1u);
  EXPECT_EQ(StoredRequests({"10.1.1.99", ""}), 1) << "only the results after the pause";
}

TEST_F(StoreTest, ManyWorkersRecordWhileTheWriterRuns) {
  HistoryStoreSettings settings;
  settings.round = 5ms;
  auto store = Open(settings);
  constexpr int kThreads = 8;
  constexpr int kResults = 500;
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < kThreads; ++t) {
      workers.emplace_back([&, t] {
        HostResults host(*store, {"10.2.0." + std::to_string(t), ""});
        for (int i = 0; i < kResults; ++i) {
          if (i % 10 == 9) {
            host.Fail(i);
          } else {
            host.Reply(i, static_cast<uint32_t>(i % 7));
          }
          store->LossLastHour({"10.2.0.0", ""}, When(i));
        }
      });
    }
  }
  store->Flush();
  EXPECT_EQ(store->Dropped(), 0u);
  for (int t = 0; t < kThreads; ++t) {
    const HistoryHost host{"10.2.0." + std::to_string(t), ""};
    EXPECT_EQ(StoredRequests(host), kResults);
    EXPECT_EQ(StoredOutages(host).size(), 50u);
  }
}

TEST_F(StoreTest, AFullQueueDropsAndCountsInsteadOfWaiting) {
  HistoryStoreSettings settings;
  settings.queueCapacity = 64;
  settings.round = 1h;  // the writer does not come round during the test
  auto store = Open(settings);
  HostResults host(*store, kHost);
  for (int i = 0; i < 1000; ++i) host.Reply(i, 1);
  store->Flush();
  EXPECT_EQ(store->Dropped(), 1000u - 60u) << "results leave a part of the queue to outages";
  EXPECT_EQ(StoredRequests(), 60);
}

}  // namespace
}  // namespace sentrel
