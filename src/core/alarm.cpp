#include "core/alarm.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include "common/text.h"
#include "core/worker_icmp.h"
#include "notify/notify_target.h"
#include "probes/address.h"
#include "probes/trace_probe.h"

namespace sentrel {

namespace {

std::string TrimControls(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(begin, end - begin);
}

// The history's placeholders, each asked for only when the text holds it.
void ExpandHistoryFigures(const HostEntry& host, std::string& text, DateTime when,
                          const HistoryFigures* figures) {
  constexpr const char* kUnknown = "n/a";
  const bool loss = text.find("%Loss%") != std::string::npos;
  const bool outage = text.find("%Outage%") != std::string::npos;
  if (!loss && !outage) return;
  const HistoryHost who = HistoryHostOf(host);
  if (loss) {
    std::string value = kUnknown;
    if (const auto percent = figures ? figures->LossLastHour(who, when) : std::nullopt) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%.1f%%", *percent);
      value = buffer;
    }
    ReplaceEvery(text, "%Loss%", value, kMaxExpandedLength);
  }
  if (outage) {
    const auto seconds = figures ? figures->LatestOutageSeconds(who, when) : std::nullopt;
    ReplaceEvery(text, "%Outage%", seconds ? DurationText(*seconds) : kUnknown, kMaxExpandedLength);
  }
}

const AlarmSet& SetOf(const HostEntry& host, AlarmDirection direction) {
  return direction == AlarmDirection::Loss ? host.OnLoss : host.OnRenewal;
}

}  // namespace

std::string DurationText(double seconds) {
  const auto total = static_cast<long long>(std::llround(std::max(seconds, 0.0)));
  const long long days = total / 86400;
  const long long rest = total % 86400;
  char buffer[48];
  if (days > 0) {
    std::snprintf(buffer, sizeof buffer, "%lldd %02lld:%02lld:%02lld", days, rest / 3600,
                  rest / 60 % 60, rest % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", rest / 3600, rest / 60 % 60,
                  rest % 60);
  }
  return buffer;
}

std::string ExpandPlaceholders(const HostEntry& host, const std::string& text,
                               const DateTextFormats& formats, const HistoryFigures* figures) {
  const DateTime when = host.LastCheck.load();
  const std::array<std::pair<const char*, std::string>, 5> passes{{
      {"%Date%", TrimControls(ShortDateText(when, formats))},
      {"%Time%", TrimControls(TimeText(when, formats))},
      {"%StatusStr%", TrimControls(host.StatusStr.Get())},
      {"%HostIP%", host.HostIP.Get()},
      {"%HostName%", host.HostName.Get()},
  }};
  std::string result = text;
  ExpandHistoryFigures(host, result, when, figures);
  for (const auto& [placeholder, value] : passes) {
    if (!ReplaceEvery(result, placeholder, value, kMaxExpandedLength)) break;
  }
  return result;
}

std::string ExpandSubject(const HostEntry& host, const std::string& templ,
                          const DateTextFormats& formats, const HistoryFigures* figures) {
  if (templ.empty()) return kDefaultSubject;
  return ExpandPlaceholders(host, templ, formats, figures);
}

std::string ExpandBody(const HostEntry& host, const std::string& templ,
                       const DateTextFormats& formats, const HistoryFigures* figures) {
  if (templ.empty()) return host.StatusStr.Get();
  return ExpandPlaceholders(host, templ, formats, figures);
}

std::string HopLine(int32_t hop, uint32_t rtt, const std::string& name, const std::string& dotted) {
  std::string line = std::to_string(hop) + ". " + std::to_string(rtt) + "ms ";
  line += name != dotted ? name + " [" + dotted + "]" : dotted;
  return line + "\r\n";
}

std::string HopLine(int32_t hop, const IpAddress& address, uint32_t rtt) {
  return HopLine(hop, rtt, AddressToName(address), AddressText(address));
}

std::string TraceHeader(const std::string& target) { return "=== Trace " + target + " ===\r\n"; }

std::string TraceTarget(const HostEntry& host) {
  // A host known only by its address has an empty name; tracing "" would
  // trace nothing at all.
  std::string name = host.HostName.Get();
  return name.empty() ? host.HostIP.Get() : name;
}

TargetEvent HostTargetEvent(const HostEntry& host, const std::string& event,
                            const std::string& subject, const std::string& text,
                            const DateTextFormats& formats, const HistoryFigures* figures) {
  TargetEvent result;
  result.event = event;
  result.address = host.HostIP.Get();
  result.name = host.HostName.Get();
  result.description = host.HostDesc.Get();
  result.status = TrimControls(host.StatusStr.Get());
  result.code = host.State.load();
  result.time = IsoUtcTime(static_cast<long long>(std::time(nullptr)));
  result.recordAddress = HistoryHostOf(host).address;
  result.subject = subject;
  result.text = text;
  // Each value alone, so that one never expands inside another.
  const DateTime when = host.LastCheck.load();
  result.placeholders = {
      {"%Date%", TrimControls(ShortDateText(when, formats))},
      {"%Time%", TrimControls(TimeText(when, formats))},
      {"%StatusStr%", result.status},
      {"%HostIP%", result.address},
      {"%HostName%", result.name},
  };
  for (const char* history : {"%Loss%", "%Outage%"}) {
    std::string value = history;
    ExpandHistoryFigures(host, value, when, figures);
    result.placeholders.emplace_back(history, value);
  }
  return result;
}

AlarmActions PrepareAlarm(HostEntry& host, AlarmDirection direction, const ROptions& options,
                          const DateTextFormats& formats, const HistoryFigures* figures) {
  AlarmActions actions;
  actions.direction = direction;
  // A trace waits in TraceText until an alarm logs it. Every log level that
  // records state changes shows it, whichever direction asked for it.
  if (options.LogDetail >= 1 && !host.TraceText.Empty()) {
    actions.pendingTrace = host.TraceText.Get();
    host.TraceText.Set({});
  }
  const AlarmSet& set = SetOf(host, direction);
  actions.alarm = set.Alarm;
  if (!actions.alarm) return actions;
  if (set.PlayWAV && !set.WAVFile.Empty()) {
    actions.sound = set.WAVFile.Get();
    actions.loopSound = options.MultPlayWAV;
  }
  if (set.SendLan) actions.lanRecipient = set.LanName.Get();
  if (set.SendEmail) actions.mailRecipient = set.EmailAddress.Get();
  if (set.RunPrg) {
    actions.program = set.ProgramName.Get();
    actions.params = set.Params.Get();
  }
  actions.showBox = set.ShowBox;
  actions.subject = ExpandSubject(host, set.Subject.Get(), formats, figures);
  actions.body = ExpandBody(host, set.MesBody.Get(), formats, figures);
  actions.targets = SplitTargetNames(set.Targets.Get());
  if (!actions.targets.empty()) {
    actions.targetEvent =
        HostTargetEvent(host, direction == AlarmDirection::Loss ? "loss" : "renewal",
                        actions.subject, actions.body, formats, figures);
  }
  return actions;
}

namespace {

// One alarm on its way through its actions.
struct AlarmRun {
  AlarmActions actions;
  EventLog& log;
  Desktop& desktop;
  AlarmChannels& channels;
  ActivityCounters* counters;
  std::function<void()> finished;
  std::size_t step = 0;

  void Count(AlarmAction action, ActionResult result) const {
    if (counters) counters->CountAlarmAction(actions.direction, action, result);
  }
};

using AlarmRunPtr = std::shared_ptr<AlarmRun>;
// An action: runs (or starts) and calls `next` once when it has ended, also
// when it had nothing to do.
using Next = std::function<void()>;
struct AlarmStep {
  void (*run)(const AlarmRunPtr& run, Next next);
  // Left out once the program is leaving: nobody is there to see it.
  bool local;
};

ActionResult Outcome(bool ok) { return ok ? ActionResult::Ok : ActionResult::Failed; }

void PlayAlarmSound(const AlarmRunPtr& run, Next next) {
  if (run->actions.sound) {
    run->desktop.PlaySound(*run->actions.sound, run->actions.loopSound);
    run->Count(AlarmAction::Sound, ActionResult::Done);
  }
  next();
}

void SendAlarmNetMessage(const AlarmRunPtr& run, Next next) {
  const AlarmActions& a = run->actions;
  if (a.lanRecipient) {
    run->Count(AlarmAction::Messenger,
               Outcome(run->channels.SendNetMessage(*a.lanRecipient, a.body, a.subject)));
  }
  next();
}

void SendAlarmMail(const AlarmRunPtr& run, Next next) {
  const AlarmActions& a = run->actions;
  if (!a.mailRecipient) return next();
  run->channels.StartMail(*a.mailRecipient, a.body, a.subject,
                          [run, next = std::move(next)](bool accepted) {
                            run->Count(AlarmAction::Mail, Outcome(accepted));
                            next();
                          });
}

// Only hands the messages to the outbox, which sends them on threads of its
// own: a target that never answers holds back no later step.
void NotifyAlarmTargets(const AlarmRunPtr& run, Next next) {
  const AlarmActions& a = run->actions;
  if (!a.targets.empty()) run->channels.NotifyTargets(a.targets, a.targetEvent);
  next();
}

void StartAlarmProgram(const AlarmRunPtr& run, Next next) {
  if (run->actions.program) {
    run->desktop.StartProgram(*run->actions.program, run->actions.params);
    run->Count(AlarmAction::Program, ActionResult::Done);
  }
  next();
}

void OpenAlarmBox(const AlarmRunPtr& run, Next next) {
  if (!run->actions.showBox) return next();
  // Counted when it opens: it waits for the operator.
  run->Count(AlarmAction::MessageBox, ActionResult::Done);
  run->desktop.OpenAlert(run->actions.body, run->actions.subject, MessageIcon::Error,
                         std::move(next));
}

// The alarm's actions in their order. Another channel joins as one more row
// at its place in the order; one that waits for a peer calls `next` from its
// completion, as the mail does.
constexpr std::array<AlarmStep, 6> kAlarmSteps{{
    {PlayAlarmSound, false},
    {SendAlarmNetMessage, false},
    {SendAlarmMail, false},
    {NotifyAlarmTargets, false},
    {StartAlarmProgram, true},
    {OpenAlarmBox, true},
}};

void Continue(const AlarmRunPtr& run) {
  while (run->step < kAlarmSteps.size()) {
    const AlarmStep& step = kAlarmSteps[run->step++];
    if (step.local && run->channels.Leaving()) continue;
    // A step that ends at once calls `next` before it returns; the loop
    // then goes on here instead of nesting one call per step.
    auto ended = std::make_shared<bool>(false);
    auto returned = std::make_shared<bool>(false);
    step.run(run, [run, ended, returned] {
      *ended = true;
      if (*returned) Continue(run);
    });
    *returned = true;
    if (!*ended) return;  // the step calls back later
  }
  if (auto finished = std::move(run->finished)) finished();
}

}  // namespace

void RunAlarm(const AlarmActions& actions, EventLog& log, Desktop& desktop,
              AlarmChannels& channels, ActivityCounters* counters,
              std::function<void()> finished) {
  if (!actions.pendingTrace.empty()) log.Write(actions.pendingTrace);
  auto run = std::make_shared<AlarmRun>(
      AlarmRun{actions, log, desktop, channels, counters, std::move(finished)});
  // Without the master switch only the trace goes to the log.
  if (!actions.alarm) run->step = kAlarmSteps.size();
  Continue(run);
}

AlarmTraceEnd AlarmTrace(HostEntry& host, const IcmpContext& icmp,
                         std::chrono::milliseconds budget) {
  const std::string target = TraceTarget(host);
  host.TraceText.Set(TraceHeader(target));
  std::stop_source cut;
  // The deadline's own thread: the trace's request may wait far longer
  // than the time left. A plain condition variable: a wait tied to a stop
  // token can hang where the system has no futex.
  std::mutex mutex;
  std::condition_variable finished;
  bool traced = false;
  std::thread deadline([&] {
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, budget, [&] { return traced; })) cut.request_stop();
  });
  const IcmpContext context = CuttableIcmpContext(icmp, cut.get_token());
  TraceProbe tracer(context);
  tracer.dataSize = host.TraceBufferSize;
  tracer.timeout = host.TraceTimeOut;
  tracer.ttl = host.TraceTTL;
  tracer.targetText = target;
  tracer.family = AddressFamilyOf(host.IPFamily);
  tracer.maxSilentHops = kAlarmTraceSilentHops;
  std::string text = TraceHeader(target);
  const std::stop_token cutToken = cut.get_token();
  tracer.OnHop = [&text, &cutToken](TraceProbe&, int32_t hop, const IpAddress& address,
                                    uint32_t rtt) {
    // Past the deadline no reverse lookup may hold the alarm any longer.
    text += cutToken.stop_requested() ? HopLine(hop, rtt, AddressText(address), AddressText(address))
                                      : HopLine(hop, address, rtt);
  };
  tracer.Run();
  {
    std::lock_guard lock(mutex);
    traced = true;
  }
  finished.notify_one();
  deadline.join();
  AlarmTraceEnd end = AlarmTraceEnd::Complete;
  if (cut.stop_requested()) {
    text += kTraceCutLine;
    end = AlarmTraceEnd::CutShort;
  } else if (tracer.endedInSilence()) {
    text += kTraceSilentLine;
    end = AlarmTraceEnd::Silent;
  }
  host.TraceText.Set(std::move(text));
  return end;
}

}  // namespace sentrel
