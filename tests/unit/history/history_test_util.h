#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "core/result_recorder.h"
#include "fakes/fake_clock.h"
#include "history/history_store.h"
#include "history/history_time.h"

namespace sentrel::testing {

inline const DateTime kStart = EncodeDateTime({2026, 3, 2, 10, 0, 0, 0});

// History second of kStart plus `seconds`.
inline int64_t At(int64_t seconds) { return HistorySecond(kStart) + seconds; }
inline DateTime When(int64_t seconds) { return FromHistorySecond(At(seconds)); }

// Results as the engine hands them over; one host checked with Retries 1.
class HostResults {
 public:
  HostResults(ResultRecorder& recorder, HistoryHost host)
      : recorder_(recorder), host_(std::move(host)) {}
  void Reply(int64_t seconds, uint32_t rtt) { Send(seconds, 0, rtt, true); }
  // A failure that decides the state (the last one Retries allows) or not.
  void Fail(int64_t seconds, bool decides = true, uint32_t status = 11010) {
    Send(seconds, status, 0, decides);
  }
  // The checks start again (program start, "Ping"): the next result counts
  // as a change of state.
  void Restart() { state_ = -1; }

 private:
  void Send(int64_t seconds, uint32_t status, uint32_t rtt, bool decides) {
    ResultRecord r{host_, When(seconds), status, rtt, decides, state_, state_};
    if (decides) r.state = static_cast<int32_t>(status);
    recorder_.Record(r);
    if (decides) state_ = r.state;
  }
  ResultRecorder& recorder_;
  HistoryHost host_;
  int32_t state_ = -1;
};

// The notices of a store, collected from its writer thread.
class Notices {
 public:
  std::function<void(const std::string&)> Sink() {
    return [this](const std::string& text) {
      std::lock_guard lock(mutex_);
      texts_.push_back(text);
    };
  }
  std::string All() const {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const auto& t : texts_) all += t + "\n";
    return all;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

}  // namespace sentrel::testing
