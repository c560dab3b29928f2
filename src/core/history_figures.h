#pragma once

#include <optional>

#include "common/date_time.h"
#include "core/result_recorder.h"

namespace sentrel {

// The figures behind the template placeholders %Loss% and %Outage%. Asked on
// the window thread while an alarm is prepared: must answer from memory at
// once. Every result recorded before the question is already counted.
class HistoryFigures {
 public:
  virtual ~HistoryFigures() = default;
  // Per cent of the requests in the hour up to `now` (the current minute and
  // the 59 before it) that got no reply; nothing when there were no requests.
  virtual std::optional<double> LossLastHour(const HistoryHost& host, DateTime now) const = 0;
  // Seconds of the host's latest outage: the one that just ended, or the one
  // going on (counted up to `now`); nothing when none is known.
  virtual std::optional<double> LatestOutageSeconds(const HistoryHost& host,
                                                    DateTime now) const = 0;
};

}  // namespace sentrel
