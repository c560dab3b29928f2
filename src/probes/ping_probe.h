#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/raw_icmp_socket.h"
#include "probes/echo_probe.h"

namespace sentrel {

// OnEcho(sender, status, address, rtt, tag): status 0 = echo reply, 11010 =
// no reply, else the IP status of the answer (e.g. 11013 from a router);
// address = who answered, the target for 11010; rtt in ms, 0 for 11010;
// detail = what the answer tells beyond that; tag = the probe's tag when the
// request was made.
struct EchoDetail {
  // The round trip in microseconds, rounded on its own (300 us reads 0 ms
  // and 300 us); 0 without an answer.
  uint32_t rttUs = 0;
  int32_t ttl = -1;  // the TTL the answer arrived with; -1 when not known
};
using EchoHandler = std::function<void(EchoProbe& sender, uint32_t status,
                                       const IpAddress& address, uint32_t rtt,
                                       const EchoDetail& detail, const std::string& tag)>;

// One echo request per Run.
class PingProbe final : public EchoProbe {
 public:
  // Most requests of one probe that wait for a raw reply at once; an older
  // one is given up (reported as 11010) to make room.
  static constexpr size_t kMaxPendingRaw = 64;

  explicit PingProbe(const IcmpContext& context);
  // Stops the raw socket's notifications first; after that no OnEcho of this
  // probe runs. May be called from any thread, but not from inside this
  // probe's own OnEcho.
  ~PingProbe() override;

  EchoHandler OnEcho;

  // Library mode: blocks up to `timeout` ms and raises OnEcho exactly once
  // on the calling thread before returning. Raw modes: sends and returns;
  // OnEcho follows on the notifier's thread with the reply, or with 11010
  // after `timeout`; the raw socket is IPv4's, so an IPv6 target gets 11010
  // at once. Mode 4: shows "No ICMP available", no event.
  void Run() override;

  // The raw socket's readiness and time-out, as the notifier delivers them.
  void HandleReadable();
  void HandleTimeout();

 private:
  struct Pending {
    uint16_t sequence;
    IpAddress target;
    std::chrono::steady_clock::time_point sent;
    std::chrono::steady_clock::time_point deadline;
    EchoHandler handler;
    std::string tag;
  };

  void RunLibrary();
  void RunRaw();
  bool EnsureRawSocket();
  void ScheduleTimer();  // with pendingMutex_ held

  std::vector<uint8_t> requestData_;  // the library request's data bytes
  std::unique_ptr<RawIcmpSocket> rawSocket_;
  uint16_t identifier_ = 0;
  bool haveIdentifier_ = false;
  std::mutex pendingMutex_;
  std::vector<Pending> pending_;
};

}  // namespace sentrel
