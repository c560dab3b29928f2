#include "history/history_text.h"

#include "common/text.h"
#include "history/history_time.h"
#include "platform/icmp_library.h"

namespace sentrel {

std::string HostText(const HistoryHost& host) {
  if (host.address.empty()) return host.name;
  if (host.name.empty()) return host.address;
  return host.address + " (" + host.name + ")";
}

std::string OutageEndText(const OutageRow& outage, int64_t nowSecond, const OutageEndWords& words) {
  if (outage.end) return SecondText(*outage.end);
  if (OutageGoesOn(outage, nowSecond)) return words.goingOn;
  std::string text = words.noChecksSince;
  ReplaceEvery(text, "%1", SecondText(outage.knownUntil));
  return text;
}

bool OutageGoesOn(const OutageRow& outage, int64_t nowSecond) {
  // The host's latest minute is written once it is over, so a host checked
  // every few minutes still counts as watched for a while.
  return !outage.end && nowSecond - outage.knownUntil <= kWatchedGapSeconds;
}

std::optional<StatusWordsV6> Ipv6StatusWords(uint32_t status) {
  // The ICMPv6 errors behind each code (see IpStatusFromIcmp6), where the
  // IPv4 words would tell something else; 11004 in particular is never a
  // protocol that the target lacks.
  switch (status) {
    case kIpDestNetUnreachable: return StatusWordsV6{"Status11002v6", "no route to destination"};
    case kIpDestHostUnreachable: return StatusWordsV6{"Status11003v6", "address unreachable"};
    case kIpDestProtocolUnreachable:
      return StatusWordsV6{"Status11004v6", "administratively prohibited"};
    case kIpTtlExpiredTransit: return StatusWordsV6{"Status11013v6", "hop limit exceeded"};
    case kIpTtlExpiredReassembly:
      return StatusWordsV6{"Status11014v6", "reassembly time exceeded"};
    default: return std::nullopt;
  }
}

std::string StatusName(uint32_t status, bool ipv6) {
  const std::string number = std::to_string(status);
  if (ipv6) {
    if (const auto words = Ipv6StatusWords(status)) return number + " " + std::string(words->english);
  }
  const char* words = nullptr;
  switch (status) {
    case kIpSuccess: words = "answered"; break;
    case kIpBufferTooSmall: words = "buffer too small"; break;
    case kIpDestNetUnreachable: words = "network unreachable"; break;
    case kIpDestHostUnreachable: words = "host unreachable"; break;
    case kIpDestProtocolUnreachable: words = "protocol unreachable"; break;
    case kIpDestPortUnreachable: words = "port unreachable"; break;
    case kIpPacketTooBig: words = "packet too big"; break;
    case kIpRequestTimedOut: words = "timed out"; break;
    case kIpBadRoute: words = "bad route"; break;
    case kIpTtlExpiredTransit: words = "TTL expired in transit"; break;
    case kIpTtlExpiredReassembly: words = "TTL expired in reassembly"; break;
    case kIpParameterProblem: words = "parameter problem"; break;
    case kIpSourceQuench: words = "source quench"; break;
    case kIpGeneralFailure: words = "general failure"; break;
    default: break;
  }
  return words ? number + " " + words : number;
}

bool IsIpv6Host(const HistoryHost& host) {
  return host.address.find(':') != std::string::npos;
}

}  // namespace sentrel
