#include "probes/trace_probe.h"

namespace sentrel {

namespace {

// Answers after which no higher TTL can get further: the path ends at the
// node that sent them.
bool EndsPath(uint32_t status) {
  switch (status) {
    case kIpSuccess:
    case kIpDestNetUnreachable:
    case kIpDestHostUnreachable:
    case kIpDestProtocolUnreachable:
    case kIpDestPortUnreachable:
    case kIpPacketTooBig:
    case kIpBadRoute:
      return true;
    default:
      return false;
  }
}

}  // namespace

TraceProbe::TraceProbe(const IcmpContext& context) : EchoProbe(context) {
  dataSize = 64;
  ttl = 10;
}

void TraceProbe::Run() {
  stopRequested_ = false;
  endedInSilence_ = false;
  ResolveTarget();
  hopLines_.clear();
  switch (context_.mode) {
    case IcmpMode::Library:
    case IcmpMode::RawAndLibrary:
      break;
    case IcmpMode::RawOnly:
      ShowMessage("Not yet implemented", MessageIcon::Error);
      return;
    case IcmpMode::RawNoLibrary:
    case IcmpMode::None:
      ShowMessage("No ICMP.DLL found", MessageIcon::Error);
      return;
  }
  if (!EnsureChannel()) return;
  std::vector<uint8_t> data(dataSize, 0xA7);
  const IpAddress target = targetAddress();
  int32_t hop = 0;
  int sends = 0;   // requests sent with the current TTL
  int silent = 0;  // TTLs in a row without any answer
  while (hop < ttl && !stopRequested()) {
    IcmpEchoOptions options{static_cast<uint8_t>(hop + 1), 0};
    Icmp6EchoReply reply;
    ++sends;
    if (SendRequest(target, data, options, reply) != 1) {
      ++hop;
      sends = 0;
      if (maxSilentHops > 0 && ++silent >= maxSilentHops) {
        endedInSilence_ = true;
        break;
      }
      continue;
    }
    silent = 0;
    if (reply.Status == kIpSuccess && reply.Address.SameHost(target)) {
      stopRequested_ = true;
      Record(++hop, reply);
    } else if (reply.Status == kIpTtlExpiredTransit) {
      Record(++hop, reply);
    } else if (sends >= kMaxSendsPerTtl) {
      // The same answer kept coming: record who gave it, and stop where the
      // path cannot go further.
      Record(++hop, reply);
      if (EndsPath(reply.Status)) stopRequested_ = true;
    } else {
      continue;  // the same TTL once more
    }
    sends = 0;
  }
}

void TraceProbe::Record(int32_t hop, const Icmp6EchoReply& reply) {
  hopLines_.push_back(AddressText(reply.Address));
  if (OnHop) OnHop(*this, hop, reply.Address, reply.RoundTripTime);
}

}  // namespace sentrel
