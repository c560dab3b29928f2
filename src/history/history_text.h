#pragma once

#include <cstdint>
#include <string>

#include "core/result_recorder.h"
#include "history/history_types.h"

namespace sentrel {

// "10.0.0.1 (router)", "10.0.0.1" without a name, "router" for a host pinged
// by name.
std::string HostText(const HistoryHost& host);

// The words for the end of an open outage; a window gives those of its
// language. "%1" in `noChecksSince` stands for the time.
struct OutageEndWords {
  std::string goingOn = "going on";
  std::string noChecksSince = "no checks since %1";
};

// The end of an outage as the reports show it: its time, "going on" while
// the host's checks still come (its last recorded minute is recent), or
// "no checks since <time>" for one whose host stopped being checked (left
// the list, changed its address, or the program stopped).
std::string OutageEndText(const OutageRow& outage, int64_t nowSecond,
                          const OutageEndWords& words = {});

// The failure status of a check in words: "11010 timed out",
// "11003 host unreachable", or the number alone for a code without a name.
std::string StatusName(uint32_t status);

}  // namespace sentrel
