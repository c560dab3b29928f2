#include "probes/echo_probe.h"

namespace sentrel {

bool EchoProbe::EnsureChannel() {
  if (!icmpHandle_ && context_.library) icmpHandle_ = context_.library->CreateChannel();
  return icmpHandle_ != nullptr;
}

int EchoProbe::SendRequest(const IpAddress& target, std::span<const uint8_t> data,
                           const IcmpEchoOptions& options, Icmp6EchoReply& reply) {
  if (target.IsV6()) return icmpHandle_->SendEcho6(target, data, options, reply, timeout);
  IcmpEchoReply v4;
  const int replies = icmpHandle_->SendEcho(target.V4Value(), data, options, v4, timeout);
  reply = Icmp6EchoReply{IpAddress::V4(v4.Address), v4.Status, v4.RoundTripTime,
                         v4.RoundTripMicroseconds, v4.Ttl};
  return replies;
}

void EchoProbe::ShowMessage(const std::string& text, MessageIcon icon) const {
  if (context_.desktop == nullptr) return;
  Desktop* desktop = context_.desktop;
  auto show = [desktop, &text, icon] { desktop->ShowMessage(text, kApplicationTitle, icon); };
  if (context_.onWindowThread)
    context_.onWindowThread(show);
  else
    show();
}

}  // namespace sentrel
