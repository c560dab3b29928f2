#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/ip_address.h"
#include "platform/icmp_library.h"

namespace sentrel {

// An address that answered a sweep.
struct SweepAnswer {
  IpAddress address;
  uint32_t rtt = 0;   // ms
  std::string name;   // reverse name, empty when there is none
};

struct SweepSettings {
  int inFlight = 200;      // echo requests waiting for their answer at most
  int perSecond = 500;     // requests sent per second at most
  int timeoutMs = 1000;    // how long each request waits
  // The reverse lookup of an answering address ("" for none); blocks.
  std::function<std::string(const IpAddress&)> nameOf;
};

// One echo request to each of a list of IPv4 addresses, many at once but at
// a bounded rate, so that a /22 takes seconds and no network is flooded.
// Only echo replies from the address asked count as answers (an error that
// a router sends back does not).
class Sweep {
 public:
  // `library` may be null: Run then finds nothing and says so in Error().
  Sweep(std::shared_ptr<IcmpLibrary> library, SweepSettings settings);
  ~Sweep();
  Sweep(const Sweep&) = delete;
  Sweep& operator=(const Sweep&) = delete;

  // Sweeps `targets` (IPv4) on threads of its own and returns when every
  // request has ended or Stop was called: the answers in address order.
  // `progress` (requests ended, requests in all) is called from those
  // threads. Calls in the calling thread's network namespace.
  std::vector<SweepAnswer> Run(const std::vector<IpAddress>& targets,
                               const std::function<void(std::size_t, std::size_t)>& progress = {});

  // Any thread, also before Run: no new request goes out, the requests in
  // flight stop waiting at once, and Run returns with what has answered.
  void Stop();
  bool Stopped() const;
  // The addresses that have answered so far; any thread.
  std::size_t Answered() const;

  // Why nothing could be sent (no ICMP), or empty.
  const std::string& Error() const { return error_; }

 private:
  // Waits for the next send slot; false when stopped meanwhile.
  bool AwaitSendSlot();
  void Worker(const std::vector<IpAddress>& targets,
              const std::function<void(std::size_t, std::size_t)>& progress);

  std::shared_ptr<IcmpLibrary> library_;
  SweepSettings settings_;
  std::string error_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_ = false;
  std::vector<IcmpChannel*> channels_;  // in use, for Stop
  std::chrono::steady_clock::time_point nextSend_;
  std::size_t next_ = 0;  // the next target to send to
  std::size_t ended_ = 0;
  std::vector<SweepAnswer> answers_;
};

}  // namespace sentrel
