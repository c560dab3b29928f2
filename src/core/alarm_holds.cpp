#include "core/alarm_holds.h"

#include <algorithm>
#include <ctime>
#include <utility>

#include "core/date_text.h"
#include "core/host_parents.h"
#include "core/ui_thread.h"
#include "notify/notify_target.h"
#include "notify/target_message.h"
#include "probes/address.h"
#include "probes/ping_probe.h"

namespace sentrel {

namespace {

// An uplink host gets two requests: one lost echo must not hold every alarm.
constexpr int32_t kUplinkTimeoutMs = 2000;
constexpr int32_t kUplinkRequests = 2;

bool KnownDown(const HostEntry& host) {
  const int32_t state = host.State;
  return host.WasChecked && state != 0 && state != -1;
}

std::string TrimmedLine(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

std::string Trimmed(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

}  // namespace

EchoTarget EchoTargetOf(const HostEntry& host) {
  EchoTarget target;
  target.byName = !host.PingByIP;
  target.text = target.byName ? host.HostName.Get() : host.HostIP.Get();
  target.family = host.IPFamily;
  target.timeoutMs = host.TimeOut;
  target.requests = std::max<int32_t>(host.Retries, 1);
  return target;
}

AnswerCheck LibraryAnswerCheck(const IcmpContext& icmp) {
  if (!icmp.library) return {};
  IcmpContext library = icmp;
  library.mode = IcmpMode::Library;
  return [library](const EchoTarget& target, std::stop_token stop) {
    const AddressFamily family = AddressFamilyOf(target.family);
    std::string address = target.text;
    if (target.byName) {
      const IpAddress resolved = ResolveAddress(target.text, family);
      if (IsNoAddress(resolved)) return false;
      address = AddressText(resolved);
    }
    PingProbe probe(library);
    probe.timeout = target.timeoutMs;
    probe.targetText = address;
    probe.family = family;
    bool answered = false;
    probe.OnEcho = [&answered](EchoProbe&, uint32_t status, const IpAddress&, uint32_t,
                               const EchoDetail&, const std::string&) { answered = status == 0; };
    for (int32_t i = 0; i < target.requests && !answered && !stop.stop_requested(); ++i) probe.Run();
    return answered && !stop.stop_requested();
  };
}

const HostEntry* DownParentOf(const std::vector<const HostEntry*>& chain,
                              const std::function<bool(const HostEntry&)>& answers) {
  const HostEntry* down = nullptr;
  for (const HostEntry* parent : chain) {
    if (answers(*parent)) break;
    down = parent;
  }
  return down;
}

std::vector<std::string> ParseUplinkHosts(const std::string& text) {
  std::vector<std::string> hosts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string item = Trimmed(text.substr(start, comma - start));
    if (!item.empty()) hosts.push_back(std::move(item));
    start = comma + 1;
  }
  return hosts;
}

AlarmHolds::AlarmHolds(const HostList& hosts, const MonitorServices& services, AnswerCheck check,
                       CheckAtOnce checkAtOnce, std::chrono::milliseconds uplinkResultLife)
    : hosts_(hosts),
      services_(services),
      check_(std::move(check)),
      checkAtOnce_(std::move(checkAtOnce)),
      uplinkResultLife_(uplinkResultLife) {}

void AlarmHolds::SetUplinkHosts(const std::string& text) {
  std::lock_guard lock(uplinkMutex_);
  uplinkHosts_ = ParseUplinkHosts(text);
  uplinkKnown_ = false;
  if (uplinkHosts_.empty()) uplinkDown_ = false;
}

bool AlarmHolds::UplinkDown() const {
  std::lock_guard lock(uplinkMutex_);
  return uplinkDown_;
}

bool AlarmHolds::Answers(const HostEntry& host, std::stop_token stop, bool mayCheck) {
  if (!mayCheck || !check_) return !KnownDown(host);
  return check_(EchoTargetOf(host), stop);
}

bool AlarmHolds::HoldLoss(HostEntry& host, std::stop_token stop) {
  // The window thread never waits for an echo: there the latest states decide.
  const bool mayCheck = !services_.ui.IsUiThread();
  std::string heldBy;
  std::string line;
  if (CheckUplink(stop, mayCheck)) {
    heldBy = kUplinkHold;
  } else {
    const auto hosts = hosts_.Snapshot();
    const auto chain = ParentChain(*hosts, host);
    const HostEntry* down = DownParentOf(
        chain, [&](const HostEntry& parent) { return Answers(parent, stop, mayCheck); });
    if (down) {
      heldBy = HostLabel(*down);
      line = DateTimeText(services_.clock.Now(), services_.formats) + " " + host.HostIP.Get() +
             " (" + host.HostName.Get() + ") loss alarm held: " + heldBy + " is down\r\n";
    }
  }
  // Ending the worker cut the checks short: they tell nothing.
  if (stop.stop_requested()) return true;
  const std::string before = host.LossHeldBy.Get();
  host.LossHeldBy.Set(heldBy);
  if (heldBy.empty()) return false;
  anyHeld_ = true;
  // One line when the hold starts, not one per check while it lasts.
  if (!line.empty() && before != heldBy) WriteLog(line, stop);
  return true;
}

void AlarmHolds::Answered(const HostEntry& host, std::stop_token stop) {
  if (UplinkDown()) CheckUplink(stop, !services_.ui.IsUiThread());
  if (!anyHeld_) return;
  const auto hosts = hosts_.Snapshot();
  // The hosts held for this one are checked; one held for a parent further
  // up waits for that parent's own answer.
  const std::string label = HostLabel(host);
  auto heldFor = [label](const HostEntry& other) { return other.LossHeldBy.Get() == label; };
  bool held = false;
  bool mine = false;
  for (const auto& other : *hosts) {
    if (other->LossHeldBy.Empty()) continue;
    held = true;
    mine = mine || heldFor(*other);
  }
  if (!held) anyHeld_ = false;
  if (mine) PostCheckAtOnce(std::move(heldFor));
}

bool AlarmHolds::CheckUplink(std::stop_token stop, bool mayCheck) {
  std::unique_lock lock(uplinkMutex_);
  if (uplinkHosts_.empty()) return false;
  const auto now = std::chrono::steady_clock::now();
  // Only a "down" stands for a while: it cost the time-outs, and a loss of
  // the uplink must never hide behind an "up" of a moment ago.
  const bool fresh = uplinkKnown_ && uplinkDown_ && now - uplinkCheckedAt_ < uplinkResultLife_;
  if (!mayCheck || fresh) return uplinkDown_;
  if (uplinkChecking_) {
    // Another host is checking it: its result stands for this one too. The
    // wait is bounded by that check's own time-outs, and by `stop`.
    while (uplinkChecking_ && !stop.stop_requested()) {
      uplinkChecked_.wait_for(lock, std::chrono::milliseconds(100));
    }
    return uplinkDown_;
  }
  uplinkChecking_ = true;
  const std::vector<std::string> targets = uplinkHosts_;
  const bool wasDown = uplinkDown_;
  lock.unlock();
  bool answered = false;
  for (const std::string& text : targets) {
    if (stop.stop_requested() || answered) break;
    EchoTarget target;
    target.text = text;
    target.byName = !IsAddressLiteral(text);
    target.timeoutMs = kUplinkTimeoutMs;
    target.requests = kUplinkRequests;
    answered = check_ && check_(target, stop);
  }
  lock.lock();
  uplinkChecking_ = false;
  const bool cut = stop.stop_requested();
  if (!cut) {
    uplinkDown_ = !answered;
    uplinkKnown_ = true;
    uplinkCheckedAt_ = std::chrono::steady_clock::now();
  }
  const bool down = uplinkDown_;
  lock.unlock();
  uplinkChecked_.notify_all();
  if (!cut && down && !wasDown) UplinkWentDown(stop);
  if (!cut && !down && wasDown) UplinkCameBack(stop);
  return down;
}

void AlarmHolds::UplinkWentDown(std::stop_token stop) {
  const std::string line =
      DateTimeText(services_.clock.Now(), services_.formats) + " " + kUplinkDownText + "\r\n";
  WriteLog(line, stop);
  // The uplink's own alarm, where the status message goes: its address
  // and its targets. Both keep it in the outbox until the way out is back.
  const MonitorServices* s = &services_;
  const std::shared_ptr<AlarmTally> tally = services_.alarms;
  const long long unixSeconds = static_cast<long long>(std::time(nullptr));
  services_.ui.Post([s, tally, line, unixSeconds] {
    if (tally && tally->engineGone) return;
    const ROptions& o = s->options;
    const std::string text = TrimmedLine(line);
    if (!o.StatAddress.empty()) {
      if (o.SendVia != 0) {
        s->channels.StartMail(o.StatAddress, line, kUplinkSubject, {});
      } else {
        s->channels.SendNetMessage(o.StatAddress, line, kUplinkSubject);
      }
    }
    if (const auto targets = SplitTargetNames(o.StatusTargets); !targets.empty()) {
      TargetEvent event;
      event.event = "loss";
      event.address = o.UplinkHosts;
      event.name = kUplinkHold;
      event.status = text;
      event.code = static_cast<int>(kIpRequestTimedOut);
      event.time = IsoUtcTime(unixSeconds);
      event.subject = kUplinkSubject;
      event.text = text;
      s->channels.NotifyTargets(targets, event);
    }
  });
}

void AlarmHolds::UplinkCameBack(std::stop_token stop) {
  WriteLog(DateTimeText(services_.clock.Now(), services_.formats) + " " + kUplinkBackText + "\r\n",
           stop);
  PostCheckAtOnce([](const HostEntry& host) { return host.LossHeldBy.Get() == kUplinkHold; });
}

void AlarmHolds::WriteLog(const std::string& text, std::stop_token stop) {
  EventLog* log = &services_.log;
  CallOnUiThread(services_.ui, [log, text] { log->Write(text); }, stop);
}

void AlarmHolds::PostCheckAtOnce(std::function<bool(const HostEntry&)> which) {
  if (!checkAtOnce_) return;
  const std::shared_ptr<AlarmTally> tally = services_.alarms;
  services_.ui.Post([this, tally, which = std::move(which)] {
    if (tally && tally->engineGone) return;
    checkAtOnce_(which);
  });
}

}  // namespace sentrel
