#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "core/event_log.h"
#include "core/history_figures.h"
#include "core/result_recorder.h"
#include "core/ui_thread.h"
#include "history/history_db.h"
#include "history/live_figures.h"
#include "history/minute_aggregator.h"

namespace sentrel {

struct HistoryStoreSettings;

// The program's store settings: the usual file in `dataFolder`, and notices
// that reach the event log, dated, on the window thread.
HistoryStoreSettings ProgramHistorySettings(const std::string& dataFolder, UiThread& ui,
                                            EventLog& log, const Clock& clock);

struct HistoryStoreSettings {
  // The database file; HistoryStore::PathIn gives the usual one. Empty:
  // nothing is recorded, which one notice says.
  std::string path;
  // A line for the event log (without date or line end), on the writer
  // thread or the constructing one; the program hands it to the window
  // thread. May be empty.
  std::function<void(const std::string&)> notice;
  // Results waiting for the writer; more are dropped and counted.
  std::size_t queueCapacity = 32768;
  // The writer's round: one transaction each.
  std::chrono::milliseconds round{1000};
  // While recording is paused (no room, no database), a new attempt after
  // this much time on the store's clock.
  std::chrono::seconds retryAfter{30};
  HistoryRetention retention{};
};

// The history store: results go from the workers into a bounded queue, and
// one writer thread stores them in one transaction per round (about a
// second): minutes per host, their hourly roll-up, the outage timeline, and
// the retention pruning. Implements the core's ResultRecorder (never blocks
// a worker) and HistoryFigures (from memory).
//
// Failures never reach the monitoring: a damaged database is moved aside
// ("<file>.damaged") and a new one started; a write that fails for want of
// room pauses the recording, which resumes by itself when a later attempt
// succeeds; a database that cannot be opened is tried again later. Each of
// these is told once through `notice`.
class HistoryStore final : public ResultRecorder, public HistoryFigures {
 public:
  // Opens (or creates) the database on the calling thread, reads what the
  // live figures need from it, and starts the writer.
  HistoryStore(HistoryStoreSettings settings, const Clock& clock);
  // Stores everything queued, the minutes still open included, and ends the
  // writer. Open outages stay open: the next run continues them.
  ~HistoryStore() override;
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // "history.db" in `dataFolder`; empty (nothing is recorded) when there
  // is no data folder.
  static std::string PathIn(const std::string& dataFolder);

  // ResultRecorder: any thread; a short lock, no I/O, no waiting for the writer.
  void Record(const ResultRecord& result) override;
  void RecordTrace(const HistoryHost& host, DateTime when, const std::string& text) override;
  void RecordNotification(const HistoryHost& host, const std::string& text) override;
  void RecordDegradation(const HistoryHost& host, DateTime when, bool degraded) override;

  // HistoryFigures: any thread.
  std::optional<double> LossLastHour(const HistoryHost& host, DateTime now) const override;
  std::optional<double> LatestOutageSeconds(const HistoryHost& host, DateTime now) const override;

  // Has the writer store everything recorded so far, open minutes included,
  // and waits until it has (a paused recording tries again at once). For
  // tests, benchmarks and the end of a run; the workers never call it.
  void Flush();

  const std::string& Path() const { return settings_.path; }
  // Recording is paused: no room, or no usable database.
  bool Paused() const { return paused_.load(); }
  // Results that were not stored: queue full, or recording paused.
  uint64_t Dropped() const { return dropped_.load(); }

 private:
  struct Item {
    enum class Kind : uint8_t { Result, Outage, Trace, Notification, Degradation };
    Kind kind = Kind::Result;
    HistoryHost host;
    int64_t second = 0;
    uint32_t status = 0;  // of a degradation: 1 degraded, 0 no longer
    uint32_t rtt = 0;  // us
    OutageChange change{};
    std::string text;
  };

  // Mutex held. Results leave the last part of the queue to the rare outage
  // and trace items, so that a flood of results cannot crowd out the timeline.
  void Push(Item item);
  void WriterLoop(std::stop_token stop);
  // One round: the queued items into one transaction. `all`: the open
  // minutes too, and a paused recording tries at once.
  void WriteRound(bool all);
  bool TryOpen(int64_t nowSecond);
  void SeedLiveFigures(int64_t nowSecond);
  // Handles a failed round; returns after the database is usable again or
  // the recording is paused.
  void Failed(int code, int64_t nowSecond);
  // Pauses the recording, saying `notice` when it was not paused yet; the
  // database is tried again after retryAfter.
  void Pause(const std::string& notice, int64_t nowSecond);
  // Closes the damaged database and moves its files aside, saying so.
  void SetAsideDamaged(const std::string& error);
  void Notice(const std::string& text) const;

  HistoryStoreSettings settings_;
  const Clock& clock_;

  // Guards the queue and the live figures; held only to add or swap, never
  // across a disk access.
  mutable std::mutex mutex_;
  std::vector<Item> queue_;
  LiveFigures live_;

  // Writer thread only (the constructing thread before it starts).
  std::vector<Item> batch_;  // the round being written; keeps its capacity
  HistoryDb db_;
  MinuteAggregator minutes_;
  std::optional<int64_t> retryAt_;  // paused: next attempt (history seconds)
  std::optional<int64_t> prunedHour_;
  uint64_t droppedTold_ = 0;
  std::optional<int64_t> droppedToldAt_;
  bool seeded_ = false;

  std::atomic<bool> paused_{false};
  std::atomic<uint64_t> dropped_{0};

  // Flush: the writer's round counter and the round a caller waits for.
  std::mutex flushMutex_;
  std::condition_variable_any flushWake_;
  std::condition_variable flushDone_;
  uint64_t flushAsked_ = 0;
  uint64_t flushServed_ = 0;

  std::jthread writer_;  // last: it ends before anything above goes
};

}  // namespace sentrel
