#include "probes/sweep.h"

#include <algorithm>
#include <array>
#include <system_error>
#include <thread>

#include "platform/name_lookup.h"

namespace sentrel {

namespace {

constexpr std::size_t kDataBytes = 32;

uint32_t SortKey(const IpAddress& address) {
  const uint32_t v = address.V4Value();
  const auto* bytes = reinterpret_cast<const uint8_t*>(&v);
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

}  // namespace

Sweep::Sweep(std::shared_ptr<IcmpLibrary> library, SweepSettings settings)
    : library_(std::move(library)), settings_(std::move(settings)) {
  settings_.inFlight = std::max(settings_.inFlight, 1);
  settings_.perSecond = std::max(settings_.perSecond, 1);
  if (!settings_.nameOf) settings_.nameOf = LookUpAddressName;
}

Sweep::~Sweep() = default;

void Sweep::Stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  for (IcmpChannel* channel : channels_) channel->Interrupt();
  wake_.notify_all();
}

bool Sweep::Stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

std::size_t Sweep::Answered() const {
  std::lock_guard lock(mutex_);
  return answers_.size();
}

bool Sweep::AwaitSendSlot() {
  std::unique_lock lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  const auto slot = std::max(now, nextSend_);
  nextSend_ = slot + std::chrono::microseconds(1'000'000 / settings_.perSecond);
  wake_.wait_until(lock, slot, [this] { return stopped_; });
  return !stopped_;
}

void Sweep::Worker(const std::vector<IpAddress>& targets,
                   const std::function<void(std::size_t, std::size_t)>& progress) {
  std::unique_ptr<IcmpChannel> channel = library_->CreateChannel();
  {
    std::lock_guard lock(mutex_);
    if (!channel) {
      error_ = "the system refused an ICMP channel";
      return;
    }
    channels_.push_back(channel.get());
  }
  const std::array<uint8_t, kDataBytes> data{};
  for (;;) {
    std::size_t i = 0;
    {
      std::lock_guard lock(mutex_);
      if (stopped_ || next_ >= targets.size()) break;
      i = next_++;
    }
    if (!AwaitSendSlot()) break;
    const IpAddress& target = targets[i];
    IcmpEchoReply reply;
    const bool answered =
        channel->SendEcho(target.V4Value(), data, IcmpEchoOptions{}, reply, settings_.timeoutMs) == 1 &&
        reply.Status == kIpSuccess && reply.Address == target.V4Value();
    SweepAnswer answer{target, reply.RoundTripTime, {}};
    if (answered && !Stopped()) answer.name = settings_.nameOf(target);
    std::size_t ended = 0;
    {
      std::lock_guard lock(mutex_);
      if (answered) answers_.push_back(std::move(answer));
      ended = ++ended_;
    }
    if (progress) progress(ended, targets.size());
  }
  std::lock_guard lock(mutex_);
  channels_.erase(std::find(channels_.begin(), channels_.end(), channel.get()));
}

std::vector<SweepAnswer> Sweep::Run(const std::vector<IpAddress>& targets,
                                    const std::function<void(std::size_t, std::size_t)>& progress) {
  if (!library_) {
    error_ = "no ICMP available: ping sockets are not allowed for this user and raw sockets need root";
    return {};
  }
  {
    std::lock_guard lock(mutex_);
    next_ = 0;
    ended_ = 0;
    answers_.clear();
    nextSend_ = std::chrono::steady_clock::now();
  }
  const std::size_t count = std::min(targets.size(), static_cast<std::size_t>(settings_.inFlight));
  std::vector<std::thread> threads;
  threads.reserve(count);
  for (std::size_t t = 0; t < count && !Stopped(); ++t) {
    try {
      threads.emplace_back([&] { Worker(targets, progress); });
    } catch (const std::system_error&) {
      break;  // fewer requests in flight; the threads there take every target
    }
  }
  for (std::thread& thread : threads) thread.join();
  std::lock_guard lock(mutex_);
  if (threads.empty() && count > 0) error_ = "no thread could be started for the sweep";
  std::vector<SweepAnswer> answers = std::move(answers_);
  std::sort(answers.begin(), answers.end(), [](const SweepAnswer& a, const SweepAnswer& b) {
    return SortKey(a.address) < SortKey(b.address);
  });
  return answers;
}

}  // namespace sentrel
