#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "core/host_list.h"
#include "core/monitor_services.h"

namespace sentrel {

// The log texts of a hold.
inline constexpr const char* kUplinkDownText = "loss alarms held: this computer's uplink is down";
inline constexpr const char* kUplinkBackText =
    "loss alarms released: this computer's uplink answers again";
// LossHeldBy of a host held for the uplink.
inline constexpr const char* kUplinkHold = "this computer's uplink";
// The subject of the uplink's own alarm.
inline constexpr const char* kUplinkSubject = "Sentrel Uplink";

// Something to check at once: an address or a name to look up first.
struct EchoTarget {
  std::string text;
  bool byName = false;
  int32_t family = 0;  // HostEntry::IPFamily
  int32_t timeoutMs = 5000;
  int32_t requests = 1;  // at most this many, until one is answered
};
EchoTarget EchoTargetOf(const HostEntry& host);

// One immediate check: true when the target answered one of its requests.
// Blocks on the calling thread; gives up (false) once `stop` is requested.
using AnswerCheck = std::function<bool(const EchoTarget& target, std::stop_token stop)>;
// The check through the echo library of `icmp` (copied); without a library
// (a raw-socket mode) there is no blocking request, and it is null.
AnswerCheck LibraryAnswerCheck(const IcmpContext& icmp);

// The first host of `chain` (nearest parent first) that stands between a
// host and this computer and does not answer: the chain is checked from the
// nearest parent on, one check each, until a parent answers, and the last
// one that did not answer before it (or at the top) is the one to blame.
// Null when the nearest parent answers (the host itself is down) or the
// chain is empty.
const HostEntry* DownParentOf(const std::vector<const HostEntry*>& chain,
                              const std::function<bool(const HostEntry&)>& answers);

// Parses the UplinkHosts option: comma-separated, blanks trimmed, empty
// items dropped.
std::vector<std::string> ParseUplinkHosts(const std::string& text);

// Holds the loss alarms that would only repeat another alarm: those of
// hosts whose parent is down, and every one while none of this computer's
// uplink hosts answers. Used from the host workers (and whichever thread
// handles a result); it hands its log lines, its own alarm and the checks
// it asks for to the window thread.
class AlarmHolds {
 public:
  // Runs on the window thread: checks at once every host for which the
  // predicate is true (its worker's CheckNow).
  using CheckAtOnce = std::function<void(const std::function<bool(const HostEntry&)>&)>;

  // `hosts` is read through its Snapshot from any thread; every reference
  // must outlive the holds. `check` null: no immediate checks can be made,
  // and the hosts' latest states decide.
  // `uplinkResultLife`: how long an uplink found down stays so for every
  // host that asks, so that many hosts going down together share one check.
  AlarmHolds(const HostList& hosts, const MonitorServices& services, AnswerCheck check,
             CheckAtOnce checkAtOnce,
             std::chrono::milliseconds uplinkResultLife = std::chrono::seconds(5));

  // The option's addresses (window thread). Empty: no uplink watch.
  void SetUplinkHosts(const std::string& text);

  // `host`'s loss alarm is due: true when it is to be held. Checks the
  // uplink and the host's parent chain at once (not on the window thread,
  // where the latest known states decide). A hold that starts writes its
  // log line; LossHeldBy says why it holds, and is cleared when it does not.
  bool HoldLoss(HostEntry& host, std::stop_token stop);

  // `host` answered: the hosts held for it (the parent nearest this
  // computer that did not answer) are checked at once; while the uplink
  // counts as down, it is checked again.
  void Answered(const HostEntry& host, std::stop_token stop);

  // Whether the uplink counts as down now.
  bool UplinkDown() const;

 private:
  // Checks the uplink (one check at a time; callers meanwhile share its
  // result, and a recent "down" is reused). True when it is down.
  bool CheckUplink(std::stop_token stop, bool mayCheck);
  void UplinkWentDown(std::stop_token stop);
  void UplinkCameBack(std::stop_token stop);
  void WriteLog(const std::string& text, std::stop_token stop);
  void PostCheckAtOnce(std::function<bool(const HostEntry&)> which);
  bool Answers(const HostEntry& host, std::stop_token stop, bool mayCheck);

  const HostList& hosts_;
  const MonitorServices& services_;
  AnswerCheck check_;
  CheckAtOnce checkAtOnce_;
  // A hold may exist: replies look for held children only then.
  std::atomic<bool> anyHeld_{false};
  const std::chrono::milliseconds uplinkResultLife_;

  mutable std::mutex uplinkMutex_;
  std::condition_variable uplinkChecked_;
  std::vector<std::string> uplinkHosts_;
  bool uplinkDown_ = false;
  bool uplinkChecking_ = false;
  std::chrono::steady_clock::time_point uplinkCheckedAt_{};
  bool uplinkKnown_ = false;
};

}  // namespace sentrel
