#include "probes/ping_probe.h"

#include <algorithm>
#include <array>

#include "probes/echo_request.h"

namespace sentrel {

namespace {

int64_t Nanoseconds(std::chrono::steady_clock::duration elapsed) {
  return std::max<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count(), 0);
}
uint32_t Milliseconds(int64_t ns) { return static_cast<uint32_t>((ns + 500'000) / 1'000'000); }
uint32_t Microseconds(int64_t ns) { return static_cast<uint32_t>((ns + 500) / 1'000); }

// The identifier travels little-endian; the kernel filter reads it high
// byte first.
uint16_t AsReadHighByteFirst(uint16_t identifier) {
  return static_cast<uint16_t>(identifier << 8 | identifier >> 8);
}

}  // namespace

PingProbe::PingProbe(const IcmpContext& context) : EchoProbe(context) {}

PingProbe::~PingProbe() {
  if (rawSocket_ && context_.notifier) context_.notifier->Unwatch(rawSocket_->Descriptor());
  rawSocket_.reset();
  if (haveIdentifier_) ReleaseIcmpIdentifier(identifier_);
}

void PingProbe::Run() {
  stopRequested_ = false;
  ResolveTarget();
  switch (context_.mode) {
    case IcmpMode::Library:
      RunLibrary();
      break;
    case IcmpMode::RawOnly:
    case IcmpMode::RawAndLibrary:
    case IcmpMode::RawNoLibrary:
      RunRaw();
      break;
    case IcmpMode::None:
      ShowMessage("No ICMP available", MessageIcon::None);
      break;
  }
}

void PingProbe::RunLibrary() {
  // Kept between requests: a worker checks its host every second.
  if (requestData_.size() != dataSize) requestData_.assign(dataSize, 0xA7);
  Icmp6EchoReply reply;
  int replies = 0;
  if (EnsureChannel() && !stopRequested()) {
    IcmpEchoOptions options{ttl, tos};
    replies = SendRequest(targetAddress(), requestData_, options, reply);
  }
  if (!OnEcho) return;
  if (replies == 1) {
    // A library that measures whole milliseconds only gives them.
    const uint32_t us = reply.RoundTripMicroseconds != 0 ? reply.RoundTripMicroseconds : reply.RoundTripTime * 1000;
    OnEcho(*this, reply.Status, reply.Address, reply.RoundTripTime, {us, reply.Ttl}, tag);
  } else {
    OnEcho(*this, kIpRequestTimedOut, targetAddress(), 0, {}, tag);
  }
}

bool PingProbe::EnsureRawSocket() {
  if (rawSocket_) return true;
  if (!haveIdentifier_) {
    if (!AcquireIcmpIdentifier(identifier_)) return false;
    haveIdentifier_ = true;
  }
  if (!context_.openRawSocket || context_.notifier == nullptr) return false;
  rawSocket_ = context_.openRawSocket();
  if (!rawSocket_) return false;
  rawSocket_->KeepOnlyIdentifier(AsReadHighByteFirst(identifier_));
  context_.notifier->Watch(rawSocket_->Descriptor(), [this] { HandleReadable(); });
  return true;
}

void PingProbe::RunRaw() {
  auto now = std::chrono::steady_clock::now();
  Pending request{NextEchoSequence(), targetAddress(), now,
                  now + std::chrono::milliseconds(std::max(timeout, 0)), OnEcho, tag};
  if (targetAddress().IsV6() || !EnsureRawSocket()) {
    // Nothing can deliver a later event: a request that cannot be made is
    // reported as unanswered at once, like a failed library request.
    if (request.handler) request.handler(*this, kIpRequestTimedOut, request.target, 0, {}, request.tag);
    return;
  }
  const uint16_t sequence = request.sequence;
  {
    // Registered before sending: on loopback the reply can be read on the
    // notifier's thread before sendto has even returned here.
    std::lock_guard lock(pendingMutex_);
    if (pending_.size() >= kMaxPendingRaw) {
      auto oldest = std::min_element(pending_.begin(), pending_.end(),
                                     [](const Pending& a, const Pending& b) { return a.sent < b.sent; });
      oldest->deadline = now;
    }
    pending_.push_back(std::move(request));
  }
  bool sent = rawSocket_->SetTtl(ttl) && rawSocket_->SetTos(tos) &&
              rawSocket_->SendTo(targetAddress().V4Value(), BuildEchoRequest(identifier_, sequence,
                                                                   MillisecondsWithinHour(), dataSize));
  std::lock_guard lock(pendingMutex_);
  if (!sent) {
    // No answer can come: reported as unanswered when the timer runs next,
    // on the notifier's thread like every other raw result.
    for (Pending& p : pending_)
      if (p.sequence == sequence) p.deadline = now;
  }
  ScheduleTimer();
}

void PingProbe::ScheduleTimer() {
  if (pending_.empty()) return;
  auto first = std::min_element(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
                 return a.deadline < b.deadline;
               })->deadline;
  auto delay = std::chrono::ceil<std::chrono::milliseconds>(first - std::chrono::steady_clock::now());
  context_.notifier->SetTimer(rawSocket_->Descriptor(), std::max(delay, std::chrono::milliseconds(0)),
                              [this] { HandleTimeout(); });
}

void PingProbe::HandleReadable() {
  std::array<uint8_t, 1024> buffer;
  // A bounded batch per call: a socket that never runs dry (a flood of other
  // ICMP) must not keep the owning thread from its other work; the notifier
  // calls again while data waits.
  for (int batch = 0; batch < 256; ++batch) {
    long n = rawSocket_->Receive(buffer);
    if (n < 0) return;
    auto reply = ParseRawEchoReply(std::span(buffer.data(), static_cast<size_t>(n)), identifier_);
    if (!reply) continue;
    auto now = std::chrono::steady_clock::now();
    Pending answered;
    {
      std::lock_guard lock(pendingMutex_);
      auto it = std::find_if(pending_.begin(), pending_.end(),
                             [&](const Pending& p) { return p.sequence == reply->sequence; });
      // A reply to a request already reported (late, or a duplicate) is dropped.
      if (it == pending_.end()) continue;
      answered = std::move(*it);
      pending_.erase(it);
    }
    const int64_t ns = Nanoseconds(now - answered.sent);
    if (answered.handler)
      answered.handler(*this, kIpSuccess, IpAddress::V4(reply->address), Milliseconds(ns),
                       {Microseconds(ns), reply->ttl}, answered.tag);
  }
}

void PingProbe::HandleTimeout() {
  std::vector<Pending> expired;
  {
    std::lock_guard lock(pendingMutex_);
    auto now = std::chrono::steady_clock::now();
    auto split = std::stable_partition(pending_.begin(), pending_.end(),
                                       [&](const Pending& p) { return p.deadline > now; });
    std::move(split, pending_.end(), std::back_inserter(expired));
    pending_.erase(split, pending_.end());
    ScheduleTimer();
  }
  for (Pending& p : expired)
    if (p.handler) p.handler(*this, kIpRequestTimedOut, p.target, 0, {}, p.tag);
}

}  // namespace sentrel
