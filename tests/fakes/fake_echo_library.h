#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "platform/icmp_library.h"

namespace sentrel::testing {

// Echo library whose answers come from a rule or a queue and may take time,
// as real requests do; no request ever waits longer than its time-out.
// Safe to use from many threads at once.
class ScriptedEchoLibrary final : public IcmpLibrary {
 public:
  struct Answer {
    std::optional<IcmpEchoReply> reply;  // nullopt: nothing came (11010)
    std::chrono::milliseconds delay{0};
  };
  struct Request {
    uint32_t address;
    std::size_t dataSize;
    IcmpEchoOptions options;
    int timeoutMs;
  };
  using Rule = std::function<Answer(uint32_t address, const IcmpEchoOptions& options)>;

  // By default every target answers itself at once in 1 ms.
  ScriptedEchoLibrary()
      : rule_([](uint32_t address, const IcmpEchoOptions&) {
          return Answer{IcmpEchoReply{address, kIpSuccess, 1}, {}};
        }) {}

  void SetRule(Rule rule) {
    std::lock_guard lock(mutex_);
    rule_ = std::move(rule);
  }
  // Answers for the next requests, in order, before the rule is asked.
  void Queue(Answer answer) {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(answer));
  }
  // Keeping every request costs memory in long runs; counting never stops.
  void RecordRequests(bool record) { record_ = record; }

  std::vector<Request> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  long RequestCount() const { return count_.load(); }
  // Requests waiting for their answer right now.
  int InFlight() const { return inFlight_.load(); }

  std::unique_ptr<IcmpChannel> CreateChannel() override { return std::make_unique<Channel>(*this); }

 private:
  class Channel final : public IcmpChannel {
   public:
    explicit Channel(ScriptedEchoLibrary& owner) : owner_(owner) {}
    int SendEcho(uint32_t address, std::span<const uint8_t> data, const IcmpEchoOptions& options,
                 IcmpEchoReply& reply, int timeoutMs) override {
      return owner_.Send(address, data.size(), options, reply, timeoutMs, *this);
    }
    // As the real channels: the request in flight, or else the next one,
    // returns at once with nothing received.
    void Interrupt() override {
      {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
      }
      woken_.notify_all();
    }
    // Waits out the answer's delay; false when interrupted first.
    bool Wait(std::chrono::milliseconds delay) {
      std::unique_lock lock(mutex_);
      const bool interrupted = woken_.wait_for(lock, delay, [this] { return interrupted_; });
      interrupted_ = false;
      return !interrupted;
    }

   private:
    ScriptedEchoLibrary& owner_;
    std::mutex mutex_;
    std::condition_variable woken_;
    bool interrupted_ = false;
  };

  int Send(uint32_t address, std::size_t size, const IcmpEchoOptions& options,
           IcmpEchoReply& reply, int timeoutMs, Channel& channel) {
    Answer answer;
    {
      std::lock_guard lock(mutex_);
      if (record_) requests_.push_back({address, size, options, timeoutMs});
      if (!queued_.empty()) {
        answer = std::move(queued_.front());
        queued_.pop_front();
      } else {
        answer = rule_(address, options);
      }
    }
    ++count_;
    ++inFlight_;
    const bool waited = channel.Wait(
        std::min(answer.delay, std::chrono::milliseconds(std::max(timeoutMs, 0))));
    --inFlight_;
    if (!waited || !answer.reply) {
      reply = IcmpEchoReply{address, kIpRequestTimedOut, 0};
      return 0;
    }
    reply = *answer.reply;
    return 1;
  }

  mutable std::mutex mutex_;
  Rule rule_;
  std::deque<Answer> queued_;
  std::vector<Request> requests_;
  std::atomic<bool> record_{true};
  std::atomic<long> count_{0};
  std::atomic<int> inFlight_{0};
};

}  // namespace sentrel::testing
