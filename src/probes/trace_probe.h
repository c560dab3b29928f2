#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "probes/echo_probe.h"

namespace sentrel {

class TraceProbe;

// OnHop(sender, hop, address, rtt): hop = the TTL (hop limit) the answer
// belongs to (the first router is 1); address = who answered; rtt in ms.
using HopHandler = std::function<void(TraceProbe& sender, int32_t hop, const IpAddress& address,
                                      uint32_t rtt)>;

// Trace route by rising TTL over the echo library. `ttl` is the highest TTL
// tried; `tos` is not used (every request has type of service 0).
class TraceProbe final : public EchoProbe {
 public:
  // How often one TTL is sent in all when its answers are neither the
  // target's echo reply nor "TTL expired", so that a trace always ends.
  static constexpr int kMaxSendsPerTtl = 3;

  explicit TraceProbe(const IcmpContext& context);

  HopHandler OnHop;
  // When above 0: the trace ends once this many TTLs in a row got no answer
  // at all, since nothing further along the path answers either.
  int32_t maxSilentHops = 0;

  // Blocks for the whole trace: at most ttl * kMaxSendsPerTtl requests, each
  // waiting up to `timeout`. OnHop runs on the calling thread. Without the
  // library shows "Not yet implemented" (mode 1) or "No ICMP.DLL found"
  // (modes 3, 4) and raises nothing.
  void Run() override;

  // One address text (AddressText) per recorded hop of the last trace, in hop order.
  const std::vector<std::string>& hopLines() const { return hopLines_; }
  // Whether the last trace ended for maxSilentHops silent TTLs in a row.
  bool endedInSilence() const { return endedInSilence_; }

 private:
  void Record(int32_t hop, const Icmp6EchoReply& reply);

  std::vector<std::string> hopLines_;
  bool endedInSilence_ = false;
};

}  // namespace sentrel
