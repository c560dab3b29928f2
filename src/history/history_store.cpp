#include "history/history_store.h"

#include <sqlite3.h>

#include <filesystem>
#include <utility>

#include "core/date_text.h"
#include "history/history_time.h"
#include "platform/thread_timing.h"

namespace sentrel {

namespace {

// A result at the very end of a minute reaches the writer a moment later;
// the minute is written once this much has passed since it ended.
constexpr int64_t kMinuteGraceSeconds = 2;
// Results dropped because the writer fell behind are told at most this often.
constexpr int64_t kDropNoticeSeconds = 600;

}  // namespace

HistoryStore::HistoryStore(HistoryStoreSettings settings, const Clock& clock)
    : settings_(std::move(settings)), clock_(clock) {
  TryOpen(HistorySecond(clock_.Now()));
  writer_ = std::jthread([this](std::stop_token stop) { WriterLoop(stop); });
}

HistoryStore::~HistoryStore() {
  writer_.request_stop();
  flushWake_.notify_all();
  if (writer_.joinable()) writer_.join();
  db_.Close();
}

std::string HistoryStore::PathIn(const std::string& dataFolder) {
  // No data folder is no place at all, never the working folder.
  if (dataFolder.empty()) return {};
  return (std::filesystem::path(dataFolder) / "history.db").string();
}

void HistoryStore::Push(Item item) {
  const std::size_t limit = item.kind == Item::Kind::Result
                                ? settings_.queueCapacity - settings_.queueCapacity / 16
                                : settings_.queueCapacity;
  if (queue_.size() >= limit) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  queue_.push_back(std::move(item));
}

void HistoryStore::Record(const ResultRecord& result) {
  Item item{Item::Kind::Result, result.host, HistorySecond(result.when), result.status,
            result.rttUs.value_or(result.rtt * 1000), {}, {}};
  std::lock_guard lock(mutex_);
  const std::optional<OutageChange> change = live_.Apply(result);
  if (change) Push({Item::Kind::Outage, result.host, item.second, 0, 0, *change, {}});
  Push(std::move(item));
}

void HistoryStore::RecordTrace(const HistoryHost& host, DateTime when, const std::string& text) {
  std::lock_guard lock(mutex_);
  Push({Item::Kind::Trace, host, HistorySecond(when), 0, 0, {}, text});
}

void HistoryStore::RecordNotification(const HistoryHost& host, const std::string& text) {
  std::lock_guard lock(mutex_);
  Push({Item::Kind::Notification, host, 0, 0, 0, {}, text});
}

void HistoryStore::RecordDegradation(const HistoryHost& host, DateTime when, bool degraded) {
  std::lock_guard lock(mutex_);
  Push({Item::Kind::Degradation, host, HistorySecond(when), degraded ? 1u : 0u, 0, {}, {}});
}

std::optional<double> HistoryStore::LossLastHour(const HistoryHost& host, DateTime now) const {
  std::lock_guard lock(mutex_);
  return live_.LossLastHour(host, MinuteOfSecond(HistorySecond(now)));
}

std::optional<double> HistoryStore::LatestOutageSeconds(const HistoryHost& host,
                                                        DateTime now) const {
  std::lock_guard lock(mutex_);
  return live_.LatestOutageSeconds(host, HistorySecond(now));
}

void HistoryStore::Flush() {
  std::unique_lock lock(flushMutex_);
  const uint64_t ticket = ++flushAsked_;
  flushWake_.notify_all();
  flushDone_.wait(lock, [&] { return flushServed_ >= ticket; });
}

void HistoryStore::WriterLoop(std::stop_token stop) {
  // Named, so that a thread list (top -H, /proc) tells its CPU apart.
  NameThisThread("history-writer");
  for (;;) {
    uint64_t asked = 0;
    bool flush = false;
    {
      std::unique_lock lock(flushMutex_);
      flushWake_.wait_for(lock, stop, settings_.round, [&] { return flushAsked_ > flushServed_; });
      asked = flushAsked_;
      flush = asked > flushServed_;
    }
    const bool ending = stop.stop_requested();
    WriteRound(flush || ending);
    {
      std::lock_guard lock(flushMutex_);
      flushServed_ = asked;
    }
    flushDone_.notify_all();
    if (ending) return;
  }
}

void HistoryStore::WriteRound(bool all) {
  {
    std::lock_guard lock(mutex_);
    batch_.swap(queue_);
  }
  const int64_t now = HistorySecond(clock_.Now());
  const bool attempt = all || !retryAt_ || now >= *retryAt_;
  const auto dropRound = [this] {
    for (const Item& item : batch_) {
      if (item.kind == Item::Kind::Result) dropped_.fetch_add(1, std::memory_order_relaxed);
    }
    batch_.clear();
  };
  if (paused_ && !attempt) {
    dropRound();
    return;
  }
  if (!db_.IsOpen() && !TryOpen(now)) {
    dropRound();
    return;
  }

  bool timeline = false;
  for (const Item& item : batch_) {
    if (item.kind == Item::Kind::Result) {
      minutes_.Add(item.host, item.second, item.status == 0, item.rtt);
    } else {
      timeline = true;
    }
  }
  const std::vector<MinuteRow> rows =
      minutes_.Take(MinuteOfSecond(now - kMinuteGraceSeconds), all);
  const int64_t hour = HourOfMinute(MinuteOfSecond(now));
  const bool upkeep = all || prunedHour_ != hour;
  // Nothing to write, no transaction; also while paused, where only a real
  // write can tell that there is room again.
  if (rows.empty() && !timeline && !upkeep) {
    batch_.clear();
    return;
  }

  int code = db_.Begin();
  if (code == SQLITE_OK) code = db_.WriteMinutes(rows);
  for (const Item& item : batch_) {
    if (code != SQLITE_OK) break;
    if (item.kind == Item::Kind::Outage) code = db_.ApplyOutage(item.host, item.change);
    if (item.kind == Item::Kind::Trace) code = db_.SetTrace(item.host, item.text);
    if (item.kind == Item::Kind::Notification) code = db_.AddNotification(item.host, item.text);
    if (item.kind == Item::Kind::Degradation)
      code = db_.ApplyDegradation(item.host, item.second, item.status != 0);
  }
  batch_.clear();
  // The roll-up goes before the pruning: after a long pause the minutes of
  // the hours not rolled up yet are still there to be rolled.
  if (code == SQLITE_OK) code = db_.RollUp(now);
  if (code == SQLITE_OK && upkeep) code = db_.Prune(now, settings_.retention);
  if (code == SQLITE_OK) code = db_.Commit();
  if (code != SQLITE_OK) {
    // The minutes of the failed transaction are lost with it.
    uint64_t lost = 0;
    for (const MinuteRow& row : rows) lost += static_cast<uint64_t>(row.stats.sent);
    dropped_.fetch_add(lost, std::memory_order_relaxed);
    Failed(code, now);
    return;
  }
  if (upkeep) prunedHour_ = hour;
  const uint64_t dropped = dropped_.load();
  if (paused_) {
    paused_ = false;
    retryAt_.reset();
    Notice("History: recording resumed; " + std::to_string(dropped - droppedTold_) +
           " results were not recorded meanwhile.");
    droppedTold_ = dropped;
  } else if (dropped > droppedTold_ &&
             (!droppedToldAt_ || now - *droppedToldAt_ >= kDropNoticeSeconds)) {
    Notice("History: the recording fell behind; " + std::to_string(dropped - droppedTold_) +
           " results were not recorded.");
    droppedTold_ = dropped;
    droppedToldAt_ = now;
  }
}

bool HistoryStore::TryOpen(int64_t nowSecond) {
  if (settings_.path.empty()) {
    Pause("History: there is no data folder; no history is recorded.", nowSecond);
    return false;
  }
  int code = db_.Open(settings_.path, nowSecond);
  if (FaultOf(code) == SqlFault::Damaged) {
    SetAsideDamaged(db_.Error());
    code = db_.Open(settings_.path, nowSecond);
  }
  if (code == SQLITE_OK) {
    if (!seeded_) {
      // Periods left open by the last run end where its records end; a
      // failure here costs only that mark, never the recording.
      db_.CloseOpenDegradations();
      SeedLiveFigures(nowSecond);
    }
    if (paused_) {
      retryAt_.reset();
    }
    return true;
  }
  const std::string error = code == SQLITE_MISMATCH ? db_.Error() : sqlite3_errstr(code);
  db_.Close();
  Pause("History: cannot open " + settings_.path + " (" + error +
            "); no history is recorded until it can be opened.",
        nowSecond);
  return false;
}

void HistoryStore::SeedLiveFigures(int64_t nowSecond) {
  seeded_ = true;
  struct OpenOutage {
    HistoryHost host;
    int64_t start;
    uint32_t status;
  };
  struct RecentMinute {
    HistoryHost host;
    int64_t minute, sent, received;
  };
  std::vector<OpenOutage> outages;
  std::vector<RecentMinute> minutes;
  // Read without the lock (workers may already record when the database
  // opens late); a failed read leaves the figures to start empty, and the
  // database itself is checked by the writes of the first round.
  db_.ForEachOpenOutage([&outages](const HistoryHost& host, int64_t start, uint32_t status) {
    outages.push_back({host, start, status});
  });
  db_.ForEachMinuteSince(MinuteOfSecond(nowSecond) - 59,
                         [&minutes](const HistoryHost& host, int64_t minute, int64_t sent,
                                    int64_t received) {
                           minutes.push_back({host, minute, sent, received});
                         });
  std::lock_guard lock(mutex_);
  for (const OpenOutage& o : outages) live_.SeedOutage(o.host, o.start, o.status);
  for (const RecentMinute& m : minutes) live_.SeedMinute(m.host, m.minute, m.sent, m.received);
}

void HistoryStore::Failed(int code, int64_t nowSecond) {
  const std::string error = db_.Error();
  db_.Rollback();
  switch (FaultOf(code)) {
    case SqlFault::Damaged:
      SetAsideDamaged(error);
      minutes_.Clear();
      TryOpen(nowSecond);
      return;
    case SqlFault::Busy:
      // Another connection held the lock for the whole wait; this round's
      // writes are lost, the next round goes on.
      return;
    default:
      Pause("History: cannot write " + settings_.path + " (" + error +
                "); recording is paused until there is room again. Monitoring goes on.",
            nowSecond);
      return;
  }
}

void HistoryStore::Pause(const std::string& notice, int64_t nowSecond) {
  if (!paused_) Notice(notice);
  paused_ = true;
  retryAt_ = nowSecond + settings_.retryAfter.count();
}

void HistoryStore::SetAsideDamaged(const std::string& error) {
  db_.Close();
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const std::filesystem::path from = settings_.path + suffix;
    const std::filesystem::path to = settings_.path + ".damaged" + suffix;
    std::error_code ec;
    std::filesystem::remove(to, ec);
    if (!std::filesystem::exists(from, ec)) continue;
    std::filesystem::rename(from, to, ec);
    // What cannot be moved must not stay either: a new database would take
    // an old write-ahead log for its own.
    if (ec) std::filesystem::remove(from, ec);
  }
  Notice("History: " + settings_.path + " is damaged (" + error + "); it was moved aside as " +
         settings_.path + ".damaged and a new history is started.");
}

void HistoryStore::Notice(const std::string& text) const {
  if (settings_.notice) settings_.notice(text);
}

HistoryStoreSettings ProgramHistorySettings(const std::string& dataFolder, UiThread& ui,
                                            EventLog& log, const Clock& clock) {
  HistoryStoreSettings settings;
  settings.path = HistoryStore::PathIn(dataFolder);
  settings.notice = [&ui, &log, &clock](const std::string& text) {
    const std::string line = DateTimeText(clock.Now(), DateTextFormats{}) + " " + text + "\r\n";
    ui.Post([&log, line] { log.Write(line); });
  };
  return settings;
}

}  // namespace sentrel
