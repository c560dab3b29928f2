#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <memory>
#include <string>

#include "platform/desktop.h"
#include "platform/icmp_library.h"
#include "probes/address.h"
#include "probes/icmp_mode.h"

namespace sentrel {

// Base of the echo objects: the settings of a request and the library
// channel. The owner sets the public fields before each Run; one thread uses
// a probe at a time (its owner ensures this).
class EchoProbe {
 public:
  explicit EchoProbe(const IcmpContext& context) : context_(context) {}
  virtual ~EchoProbe() = default;
  EchoProbe(const EchoProbe&) = delete;
  EchoProbe& operator=(const EchoProbe&) = delete;

  // The probe's action; see the subclasses.
  virtual void Run() = 0;

  uint8_t dataSize = 64;   // data bytes per request
  int32_t timeout = 5000;  // ms a library request waits
  uint8_t ttl = 255;
  uint8_t tos = 0;
  std::string targetText;  // address or host name
  // The family that a name in targetText resolves to; an address written
  // out decides its own.
  AddressFamily family = AddressFamily::Automatic;
  std::string tag;         // handed back with every result

  // Resolved from targetText at the start of every Run; read by the thread
  // that runs the probe.
  const IpAddress& targetAddress() const { return targetAddress_; }
  bool stopRequested() const { return stopRequested_.load(std::memory_order_relaxed); }

 protected:
  // Opens the library channel on first use. False when the library is
  // missing or refuses a channel (tried again on the next request).
  bool EnsureChannel();
  void ShowMessage(const std::string& text, MessageIcon icon) const;
  void ResolveTarget() { targetAddress_ = ResolveAddress(targetText, family); }
  // One library request to `target` of either family, on the open channel;
  // the reply in the record that holds both families' addresses.
  int SendRequest(const IpAddress& target, std::span<const uint8_t> data,
                  const IcmpEchoOptions& options, Icmp6EchoReply& reply);

  const IcmpContext& context_;
  std::unique_ptr<IcmpChannel> icmpHandle_;
  IpAddress targetAddress_ = NoAddress();
  std::atomic<bool> stopRequested_{false};
};

}  // namespace sentrel
