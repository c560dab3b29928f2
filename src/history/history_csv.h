#pragma once

#include <string>
#include <vector>

#include "history/history_types.h"

namespace sentrel {

// The rows as CSV (RFC 4180: comma, CR LF, a header line): start
// ("YYYY-MM-DD HH:MM", local time), minutes, requests, replies,
// loss_percent, rtt_min_ms, rtt_avg_ms, rtt_max_ms, jitter_ms, lost_minutes.
// Figures that do not exist (no reply, no pair of replies) stay empty;
// decimals use a point whatever the locale.
std::string HistoryCsv(const std::vector<Bucket>& rows);

}  // namespace sentrel
