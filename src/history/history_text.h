#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// An open outage whose host is still being checked (its last minute is
// recent): its length runs up to now.
bool OutageGoesOn(const OutageRow& outage, int64_t nowSecond);

// The failure status of a check in words: "11010 timed out",
// "11003 host unreachable", or the number alone for a code without a name.
// The codes are the same for IPv6, whose errors have other names: for an
// IPv6 host the words are those of the ICMPv6 error behind the code
// ("11004 administratively prohibited", "11013 hop limit exceeded").
std::string StatusName(uint32_t status, bool ipv6 = false);

// The ICMPv6 words of a code whose IPv4 words would mislead, and the
// language key that translates them (section HistoryForm).
struct StatusWordsV6 {
  std::string_view key;
  std::string_view english;
};
std::optional<StatusWordsV6> Ipv6StatusWords(uint32_t status);

// Whether the history host is an IPv6 one (its address has colons).
bool IsIpv6Host(const HistoryHost& host);

}  // namespace sentrel
