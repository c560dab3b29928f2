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
  // The host's latest minute is written once it is over, so a host checked
  // every few minutes still counts as watched for a while.
  constexpr int64_t kStillWatched = 15 * 60;
  if (outage.end) return SecondText(*outage.end);
  if (nowSecond - outage.knownUntil <= kStillWatched) return words.goingOn;
  std::string text = words.noChecksSince;
  ReplaceEvery(text, "%1", SecondText(outage.knownUntil));
  return text;
}

std::string StatusName(uint32_t status) {
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
  const std::string number = std::to_string(status);
  return words ? number + " " + words : number;
}

}  // namespace sentrel
