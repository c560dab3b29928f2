#include "history/minute_aggregator.h"

#include <utility>

#include "history/history_time.h"

namespace sentrel {

void MinuteAggregator::Add(const HistoryHost& host, int64_t second, bool reply, int64_t rtt) {
  HostMinute& open = hosts_[host];
  const int64_t minute = MinuteOfSecond(second);
  // Any other minute, also an earlier one when the clock went back, closes
  // the open one; a row written twice for one minute adds up in the database.
  if (open.minute && *open.minute != minute) Close(host, open);
  if (!open.minute) {
    open.minute = minute;
    open.stats = {};
  }
  open.stats.AddRequest(reply, rtt);
  if (reply) {
    if (open.lastRtt) open.stats.AddJitter(rtt - *open.lastRtt);
    open.lastRtt = rtt;
  }
}

std::vector<MinuteRow> MinuteAggregator::Take(int64_t beforeMinute, bool all) {
  for (auto& [host, open] : hosts_) {
    if (open.minute && (all || *open.minute < beforeMinute)) Close(host, open);
  }
  return std::exchange(done_, {});
}

void MinuteAggregator::Clear() {
  hosts_.clear();
  done_.clear();
}

void MinuteAggregator::Close(const HistoryHost& host, HostMinute& open) {
  open.stats.CountAsMinute();
  done_.push_back({host, *open.minute, open.stats});
  open.minute.reset();
}

}  // namespace sentrel
