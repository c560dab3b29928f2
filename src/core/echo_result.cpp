#include "core/echo_result.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/alarm.h"
#include "core/alarm_holds.h"
#include "core/host_worker.h"
#include "core/worker_icmp.h"
#include "notify/notify_target.h"
#include "probes/address.h"

namespace sentrel {

namespace {

constexpr int32_t kReplyCountWrap = 0x7FFFFFFE;

// Counts a result in the direction's new state; true when this result is the
// one at which the alarm fires.
bool CountTowardsAlarm(AlarmSet& set) {
  const int32_t count = set.RepeatCount;
  int32_t counter = set.RepeatCounter;
  if (counter > count) return false;
  set.RepeatCounter = ++counter;
  return counter == count;
}

void FireAlarm(HostEntry& host, AlarmDirection direction, const MonitorServices& services,
               std::stop_token stop) {
  // The result of a request that ending the worker cut short is no outage.
  if (stop.stop_requested()) return;
  // Without an engine around (a result handled alone) nobody counts them.
  const std::shared_ptr<AlarmTally> tally =
      services.alarms ? services.alarms : std::make_shared<AlarmTally>();
  ++tally->inFlight;
  const AlarmSet& set = direction == AlarmDirection::Loss ? host.OnLoss : host.OnRenewal;
  if (set.RunTraceRoute) {
    AlarmTrace(host, WorkerIcmpContext(services.icmp, services.ui));
    // Leaving the program mid-trace: the alarm goes out without it.
    if (stop.stop_requested()) host.TraceText.Set({});
    if (direction == AlarmDirection::Loss && services.recorder)
      services.recorder->RecordTrace(HistoryHostOf(host), services.clock.Now(), host.TraceText.Get());
  }
  const MonitorServices* s = &services;
  HostEntry* h = &host;
  auto dispatch = [h, direction, s, tally](const StepDone& done) {
    if (tally->engineGone) return;
    // Everything is read from the host before the first action: the host
    // may be deleted while its mail goes or its box is open.
    const AlarmActions actions = PrepareAlarm(*h, direction, s->options, s->formats, s->figures);
    RunAlarm(actions, s->log, s->desktop, s->channels, s->counters, [tally, done] {
      --tally->inFlight;
      if (done) done();
    });
  };
  // The worker waits for its alarm, as it does for its log line; the window
  // thread does not: it runs the actions as a chain of continuations.
  if (!stop.stop_requested() &&
      AwaitOnUiThread(services.ui, dispatch, stop) != HandOffEnd::NeverRan)
    return;
  // Ended before the window thread took the alarm up: leaving the program
  // still sends it, nobody waiting; a deleted host's alarm is dropped.
  if (!tally->leaving) {
    --tally->inFlight;
    return;
  }
  std::lock_guard lock(tally->mutex);
  tally->leftBehind.push_back([dispatch] { dispatch({}); });
}

// Judges the result for the host's degradation; a change is kept in the
// history, logged and told to the host's degradation targets.
void JudgeDegradation(HostEntry& host, const MonitorServices& services, bool reply,
                      uint32_t microseconds, bool downBefore, DateTime now, std::stop_token stop) {
  DegradationChange change;
  DegradationFigures figures;
  {
    std::lock_guard lock(host.JudgeMutex);
    change = host.Judge.Judge(DegradationLimitsOf(host),
                              reply ? std::optional<uint32_t>(microseconds) : std::nullopt,
                              downBefore);
    host.Degraded = host.Judge.Degraded();
    if (change != DegradationChange::None) figures = host.Judge.Figures();
  }
  if (change == DegradationChange::None) return;
  if (services.recorder) {
    services.recorder->RecordDegradation(HistoryHostOf(host), now,
                                         change == DegradationChange::Degraded);
  }
  const std::string line = DegradationLine(now, change, figures, host.HostIP.Get(),
                                           host.HostName.Get(), services.formats);
  const bool logged = services.options.LogDetail >= 1;
  // Switching the judging off is the user's own doing: nobody is told.
  std::vector<std::string> targets;
  if (change != DegradationChange::Dropped) targets = SplitTargetNames(host.DegradedTargets.Get());
  if (!logged && targets.empty()) return;
  const MonitorServices* s = &services;
  HostEntry* h = &host;
  const bool degraded = change == DegradationChange::Degraded;
  const std::string subject = host.HostIP.Get() + " (" + host.HostName.Get() + ") " +
                              (degraded ? "is degraded" : "is no longer degraded");
  const std::string text = line.substr(0, line.find_last_not_of("\r\n") + 1);
  // The worker waits for this step, as for its log line, so the host is
  // still there while the step reads it.
  CallOnUiThread(
      services.ui,
      [s, h, line, logged, targets, degraded, subject, text] {
        if (logged) s->log.Write(line);
        if (targets.empty()) return;
        s->channels.NotifyTargets(targets, HostTargetEvent(*h, degraded ? "degraded" : "recovered",
                                                           subject, text, s->formats, s->figures));
      },
      stop);
}

}  // namespace

std::string DegradationLine(DateTime when, DegradationChange change,
                            const DegradationFigures& figures, const std::string& address,
                            const std::string& name, const DateTextFormats& formats) {
  std::string line = DateTimeText(when, formats) + " " + address + " (" + name + ") ";
  if (change == DegradationChange::Dropped) return line + "is no longer judged for degradation.\r\n";
  line += change == DegradationChange::Degraded ? "is degraded: " : "is no longer degraded: ";
  char loss[32];
  std::snprintf(loss, sizeof loss, "%.4g", figures.LossPercent());
  if (figures.averageMs) {
    line += "average " + std::to_string(std::lround(*figures.averageMs)) + " ms, ";
  }
  return line + "loss " + loss + "% of the latest " + std::to_string(figures.requests) +
         " requests.\r\n";
}

std::string StatusLine(DateTime when, uint32_t status, const IpAddress& address, uint32_t rtt,
                       const std::string& name, const DateTextFormats& formats) {
  std::string line = DateTimeText(when, formats) + " " + AddressText(address) + " (" + name;
  if (status == 0) {
    line += ") is online (" + std::to_string(rtt) + "ms).";
  } else {
    line += ") is failed.";
  }
  return line + "\r\n";
}

void OnEchoResult(HostEntry& host, const MonitorServices& services, uint32_t status,
                  const IpAddress& address, uint32_t rtt, const std::string& tag,
                  std::optional<EchoDetail> measured) {
  const std::stop_token stop = CurrentWorkerStopToken();
  const DateTime now = services.clock.Now();
  const bool reply = status == 0;
  const int32_t stateBefore = host.State;
  const uint32_t microseconds = !reply ? 0 : measured ? measured->rttUs : rtt * 1000;
  const int64_t unixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();

  CountEcho(host.Counters, status, microseconds, unixMs, measured ? measured->ttl : -1);
  host.StatusStr.Set({});
  host.LastRtt = static_cast<int32_t>(rtt);
  host.LastCheck = now;
  const int32_t replyCount = host.ReplyCount % kReplyCountWrap + 1;
  host.ReplyCount = replyCount;

  // A reply ends a hold: the loss alarm it held is not due any more, and the
  // renewal alarm has no loss alarm to answer.
  const bool heldUntilNow = reply && !host.LossHeldBy.Empty();
  if (heldUntilNow) host.LossHeldBy.Set({});

  std::string line = StatusLine(now, status, address, rtt, tag, services.formats);
  // Whether this result decides the host's state: a reply, or the last
  // failure that Retries allows. Earlier failures change only the figures.
  bool decides = reply;
  if (reply) {
    host.LastReplyTime = static_cast<int32_t>(rtt);
    host.AvgTime = (host.AvgTime + static_cast<int32_t>(rtt)) / replyCount;
    host.StatusStr.Set(line);
    host.FailCount = 0;
    host.PrevState = host.State.load();
    host.State = 0;
  } else {
    host.ReplyCount = 0;
    host.LastReplyTime = -1;
    host.AvgTime = -1;
    host.StatusStr.Set(line);
    const int32_t failCount = ++host.FailCount;
    if (failCount == host.Retries) {
      host.PrevState = host.State.load();
      host.State = static_cast<int32_t>(status);
      decides = true;
    }
  }

  if (decides) CountDecision(host.Counters, reply, unixMs);
  const int32_t state = host.State;
  const bool changed = state != host.PrevState;
  // Recorded before the log line and the alarm, so that the alarm's
  // %Loss% and %Outage% already count this result.
  if (services.recorder) {
    services.recorder->Record(
        {HistoryHostOf(host), now, status, rtt, decides, state, host.PrevState.load(), microseconds});
  }
  const int32_t detail = services.options.LogDetail;
  if ((detail == 2 || (detail == 1 && changed)) && decides) {
    EventLog* log = &services.log;
    CallOnUiThread(services.ui, [log, line] { log->Write(line); }, stop);
  }

  // A failure that does not decide the state leaves the counters alone: the
  // state it compares was decided by an earlier result, so counting it as a
  // change would restart the counters in the middle of a check and fire the
  // same alarm a second time.
  //
  // A change from one failure code to another is the same outage going on
  // (a router that rate-limits its errors makes a dead host alternate
  // between "unreachable" and "timed out"): the log shows it, but only a
  // reply ends the outage, so the loss alarm fires once per outage.
  const int32_t previous = host.PrevState;
  const bool sameOutage = state != 0 && previous != 0 && previous != -1;
  if (changed && decides && !sameOutage) {
    host.OnRenewal.RepeatCounter = 0;
    host.OnLoss.RepeatCounter = 0;
    if (host.PrevState == -1) host.PrevState = state;
  }

  if (reply) {
    if (heldUntilNow && changed) {
      host.OnRenewal.RepeatCounter = host.OnRenewal.RepeatCount + 1;
    } else if (CountTowardsAlarm(host.OnRenewal)) {
      FireAlarm(host, AlarmDirection::Renewal, services, stop);
    }
    if (services.holds) services.holds->Answered(host, stop);
  } else if (decides && CountTowardsAlarm(host.OnLoss)) {
    if (services.holds && services.holds->HoldLoss(host, stop)) {
      // The next failed check is due the alarm again and asks again, so a
      // host that is still down once its parent answers raises its own.
      host.OnLoss.RepeatCounter = host.OnLoss.RepeatCount - 1;
    } else {
      FireAlarm(host, AlarmDirection::Loss, services, stop);
    }
  }
  JudgeDegradation(host, services, reply, microseconds, stateBefore != 0 && stateBefore != -1, now,
                   stop);

  host.NextCheck = NextCheckTime(host, services.clock.Now());
}

int Light(const HostEntry& host) {
  const int32_t rtt = host.LastRtt;
  for (int n = 0; n < 4; ++n) {
    if (rtt <= host.LightTimes[static_cast<std::size_t>(n)]) return n + 1;
  }
  return 1;
}

RowView ViewOfRow(const HostEntry& host, bool ticked) {
  RowView view;
  if (!ticked || !host.WasChecked) return view;
  if (!host.PingByIP) view.caption = host.HostIP.Get();
  if (host.State != 0 && !host.LossHeldBy.Empty()) {
    view.image = kUnreachableImage;
    view.avgTime = kUnreachableText;
    view.lastTime = kUnreachableText;
  } else if (host.State != 0) {
    view.image = 5;
    view.avgTime = "Lost";
    view.lastTime = "Lost";
  } else {
    view.degraded = IsDegradedNow(host);
    view.image = view.degraded ? kDegradedRowImage : Light(host);
    view.avgTime = view.degraded ? std::string("Degraded") : std::to_string(host.AvgTime.load());
    view.lastTime = std::to_string(host.LastReplyTime.load());
  }
  return view;
}

}  // namespace sentrel
