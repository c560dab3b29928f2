#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/icmp_library.h"
#include "platform/raw_icmp_socket.h"
#include "platform/socket_notifier.h"

namespace sentrel::testing {

// Echo library that answers from a script instead of the network. Answers
// are looked up by (target, TTL) first, then by target; unscripted requests
// time out. Every request is recorded.
class FakeIcmpLibrary final : public IcmpLibrary {
 public:
  struct Request {
    uint32_t address;
    std::vector<uint8_t> data;
    IcmpEchoOptions options;
    int timeoutMs;
  };

  // nullopt = no answer (0 replies, status 11010).
  void Answer(uint32_t address, std::optional<IcmpEchoReply> reply) {
    std::lock_guard lock(mutex_);
    byTarget_[address] = reply;
  }
  void AnswerAtTtl(uint32_t address, uint8_t ttl, std::optional<IcmpEchoReply> reply) {
    std::lock_guard lock(mutex_);
    byTtl_[{address, ttl}] = reply;
  }
  void RefuseChannels(bool refuse) { refuseChannels_ = refuse; }

  std::vector<Request> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  int ChannelsCreated() const { return channels_; }

  std::unique_ptr<IcmpChannel> CreateChannel() override {
    if (refuseChannels_) return nullptr;
    ++channels_;
    return std::make_unique<Channel>(*this);
  }

 private:
  class Channel final : public IcmpChannel {
   public:
    explicit Channel(FakeIcmpLibrary& owner) : owner_(owner) {}
    int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
                 IcmpEchoReply& reply, int timeoutMs) override {
      return owner_.Send(address, data, options, reply, timeoutMs);
    }

   private:
    FakeIcmpLibrary& owner_;
  };

  int Send(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
           IcmpEchoReply& reply, int timeoutMs) {
    std::lock_guard lock(mutex_);
    requests_.push_back({address, {data.begin(), data.end()}, options, timeoutMs});
    std::optional<IcmpEchoReply> answer;
    if (auto it = byTtl_.find({address, options.Ttl}); it != byTtl_.end())
      answer = it->second;
    else if (auto t = byTarget_.find(address); t != byTarget_.end())
      answer = t->second;
    if (!answer) {
      reply = IcmpEchoReply{address, kIpRequestTimedOut, 0};
      return 0;
    }
    reply = *answer;
    return 1;
  }

  mutable std::mutex mutex_;
  std::map<std::pair<uint32_t, uint8_t>, std::optional<IcmpEchoReply>> byTtl_;
  std::map<uint32_t, std::optional<IcmpEchoReply>> byTarget_;
  std::vector<Request> requests_;
  std::atomic<bool> refuseChannels_{false};
  std::atomic<int> channels_{0};
};

// Raw socket that records what is sent and hands out queued datagrams.
class FakeRawIcmpSocket final : public RawIcmpSocket {
 public:
  struct Sent {
    uint32_t address;
    std::vector<uint8_t> message;
    int ttl;
    int tos;
  };
  struct State {
    std::vector<Sent> sent;
    std::deque<std::vector<uint8_t>> incoming;
    int ttl = 64;
    int tos = 0;
    bool refuseTtl = false;
    bool refuseSend = false;
    std::optional<uint16_t> keptIdentifier;
  };

  explicit FakeRawIcmpSocket(std::shared_ptr<State> state, int fd = 1000)
      : state_(std::move(state)), fd_(fd) {}

  int Descriptor() const override { return fd_; }
  bool SetTtl(int ttl) override {
    if (state_->refuseTtl || ttl < 1 || ttl > 255) return false;
    state_->ttl = ttl;
    return true;
  }
  bool SetTos(int tos) override {
    state_->tos = tos;
    return true;
  }
  bool KeepOnlyIdentifier(uint16_t identifier) override {
    state_->keptIdentifier = identifier;
    return true;
  }
  bool SendTo(uint32_t address, std::span<const uint8_t> message) override {
    if (state_->refuseSend) return false;
    state_->sent.push_back({address, {message.begin(), message.end()}, state_->ttl, state_->tos});
    return true;
  }
  long Receive(std::span<uint8_t> buffer) override {
    if (state_->incoming.empty()) return -1;
    std::vector<uint8_t> datagram = std::move(state_->incoming.front());
    state_->incoming.pop_front();
    size_t n = std::min(buffer.size(), datagram.size());
    std::copy_n(datagram.begin(), n, buffer.begin());
    return static_cast<long>(n);
  }

 private:
  std::shared_ptr<State> state_;
  int fd_;
};

// Notifier whose readiness and timers the test fires by hand.
class FakeSocketNotifier final : public SocketNotifier {
 public:
  void Watch(int fd, std::function<void()> onReadable) override { readable_[fd] = std::move(onReadable); }
  void SetTimer(int fd, std::chrono::milliseconds delay, std::function<void()> onTimeout) override {
    timers_[fd] = {delay, std::move(onTimeout)};
  }
  void Unwatch(int fd) override {
    readable_.erase(fd);
    timers_.erase(fd);
    ++unwatched_;
  }

  bool Watching(int fd) const { return readable_.count(fd) != 0; }
  std::optional<std::chrono::milliseconds> TimerDelay(int fd) const {
    auto it = timers_.find(fd);
    if (it == timers_.end()) return std::nullopt;
    return it->second.first;
  }
  void FireReadable(int fd) {
    if (auto it = readable_.find(fd); it != readable_.end()) it->second();
  }
  void FireTimer(int fd) {
    auto it = timers_.find(fd);
    if (it == timers_.end()) return;
    auto callback = std::move(it->second.second);
    timers_.erase(it);
    callback();
  }
  int Unwatched() const { return unwatched_; }

 private:
  std::map<int, std::function<void()>> readable_;
  std::map<int, std::pair<std::chrono::milliseconds, std::function<void()>>> timers_;
  int unwatched_ = 0;
};

}  // namespace sentrel::testing
