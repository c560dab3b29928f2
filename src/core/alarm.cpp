#include "core/alarm.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

#include "common/text.h"
#include "core/host_worker.h"
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

void RunAlarm(const AlarmActions& actions, EventLog& log, Desktop& desktop,
              AlarmChannels& channels, ActivityCounters* counters) {
  if (!actions.pendingTrace.empty()) log.Write(actions.pendingTrace);
  if (!actions.alarm) return;
  auto count = [&](AlarmAction action, ActionResult result) {
    if (counters) counters->CountAlarmAction(actions.direction, action, result);
  };
  auto outcome = [](bool ok) { return ok ? ActionResult::Ok : ActionResult::Failed; };
  if (actions.sound) {
    desktop.PlaySound(*actions.sound, actions.loopSound);
    count(AlarmAction::Sound, ActionResult::Done);
  }
  if (actions.lanRecipient) {
    count(AlarmAction::Messenger,
          outcome(channels.SendNetMessage(*actions.lanRecipient, actions.body, actions.subject)));
  }
  if (actions.mailRecipient) {
    count(AlarmAction::Mail,
          outcome(channels.SendMail(*actions.mailRecipient, actions.body, actions.subject)));
  }
  // Right after the mail: the messages are only handed to the outbox here.
  if (!actions.targets.empty()) channels.NotifyTargets(actions.targets, actions.targetEvent);
  // Leaving the program cut the transfer short: no program start or box now.
  if (channels.Leaving()) return;
  if (actions.program) {
    desktop.StartProgram(*actions.program, actions.params);
    count(AlarmAction::Program, ActionResult::Done);
  }
  if (actions.showBox) {
    // Counted before the box: it waits for the operator.
    count(AlarmAction::MessageBox, ActionResult::Done);
    desktop.ShowAlert(actions.body, actions.subject, MessageIcon::Error);
  }
}

void AlarmTrace(HostEntry& host, const IcmpContext& icmp) {
  const std::string target = TraceTarget(host);
  host.TraceText.Set(TraceHeader(target));
  std::unique_ptr<TraceProbe> own;
  TraceProbe* tracer = host.Tracer.get();
  if (!OnHostWorker()) {
    own = std::make_unique<TraceProbe>(icmp);
    tracer = own.get();
  }
  if (tracer == nullptr) return;
  tracer->dataSize = host.TraceBufferSize;
  tracer->timeout = host.TraceTimeOut;
  tracer->ttl = host.TraceTTL;
  tracer->targetText = target;
  tracer->family = AddressFamilyOf(host.IPFamily);
  std::string text = TraceHeader(target);
  tracer->OnHop = [&text](TraceProbe&, int32_t hop, const IpAddress& address, uint32_t rtt) {
    text += HopLine(hop, address, rtt);
  };
  tracer->Run();
  tracer->OnHop = nullptr;
  host.TraceText.Set(std::move(text));
}

}  // namespace sentrel
