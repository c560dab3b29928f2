#pragma once

#include <cstdint>
#include <string>

#include "core/result_recorder.h"
#include "history/history_types.h"

namespace sentrel {

// "10.0.0.1 (router)", "10.0.0.1" without a name, "router" for a host pinged
// by name.
std::string HostText(const HistoryHost& host);

// How an outage stands: ended, going on while the host's checks still come
// (its last recorded minute is recent), or without checks since its last
// recorded minute (the host left the list, changed its address, or the
// program stopped).
enum class OutageEnd { kEnded, kGoingOn, kUnwatched };
OutageEnd OutageEndOf(const OutageRow& outage, int64_t nowSecond);

// The end of an outage as the reports show it: its time, "going on", or
// "no checks since <time>".
std::string OutageEndText(const OutageRow& outage, int64_t nowSecond);

// The failure status of a check in words: "11010 timed out",
// "11003 host unreachable", or the number alone for a code without a name.
std::string StatusName(uint32_t status);

}  // namespace sentrel
