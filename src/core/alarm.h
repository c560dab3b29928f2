#pragma once

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/ip_address.h"
#include "core/activity_counters.h"
#include "core/alarm_channels.h"
#include "core/date_text.h"
#include "core/event_log.h"
#include "core/history_figures.h"
#include "core/host_entry.h"
#include "platform/desktop.h"
#include "probes/icmp_mode.h"
#include "settings/options.h"

namespace sentrel {

inline constexpr const char* kDefaultSubject = "Sentrel Message!!!";

// The five placeholders, replaced one after the other in this order:
// %Date%, %Time%, %StatusStr%, %HostIP%, %HostName%. Each pass replaces every
// occurrence in the text as it stands after the earlier passes, but does not
// search again what it inserted itself, so a host name containing
// "%HostName%" is inserted once. Date, time and status line are trimmed of
// characters 0..32 at both ends; address and name go in unchanged.
//
// Before them, and only where they appear, the history's two: %Loss% (the
// per cent of requests lost in the last hour, "12.5%") and %Outage% (the
// duration of the outage that just ended, or of the one going on, "0:04:10";
// "2d 03:00:00" beyond a day). Both read "n/a" when `figures` is null or
// knows nothing. They go first so that a host name or status line holding
// these words is inserted as it is, as it always was.
//
// Values inserted by one pass are searched by the later ones, so texts from a
// hand-edited data file could multiply each other's length: once a
// replacement would make the text longer than kMaxExpandedLength bytes, the
// expansion stops there and the remaining placeholders stay as written.
inline constexpr std::size_t kMaxExpandedLength = 1 << 20;
std::string ExpandPlaceholders(const HostEntry& host, const std::string& text,
                               const DateTextFormats& formats,
                               const HistoryFigures* figures = nullptr);
// An empty template gives "Sentrel Message!!!".
std::string ExpandSubject(const HostEntry& host, const std::string& templ,
                          const DateTextFormats& formats,
                          const HistoryFigures* figures = nullptr);
// An empty template gives the status line as it is, CR LF included.
std::string ExpandBody(const HostEntry& host, const std::string& templ,
                       const DateTextFormats& formats, const HistoryFigures* figures = nullptr);

// "H:MM:SS" of a duration in whole seconds, "Nd HH:MM:SS" from one day on;
// negative durations count as 0.
std::string DurationText(double seconds);

// One trace line: "<hop>. <rtt>ms <name> [<dotted>]", or "<hop>. <rtt>ms
// <dotted>" when the reverse lookup gave nothing better than the dotted
// form; ends in CR LF.
std::string HopLine(int32_t hop, uint32_t rtt, const std::string& name, const std::string& dotted);
// HopLine with the system's reverse lookup (blocks).
std::string HopLine(int32_t hop, const IpAddress& address, uint32_t rtt);
// "=== Trace <target> ===" and CR LF.
std::string TraceHeader(const std::string& target);
// What a trace of `host` aims at: its name, or its address when it has no name.
std::string TraceTarget(const HostEntry& host);

// Everything one alarm does, worked out from the host in advance, so that
// running it never reads the host again: a message box (or a dial-up wait)
// may run a nested event loop in which the host is deleted.
struct AlarmActions {
  AlarmDirection direction = AlarmDirection::Loss;
  std::string pendingTrace;  // written to the log first, when not empty
  bool alarm = false;        // the direction's master switch
  std::optional<std::string> sound;
  bool loopSound = false;
  std::optional<std::string> lanRecipient;
  std::optional<std::string> mailRecipient;
  std::optional<std::string> program;
  std::string params;
  bool showBox = false;
  std::string subject;  // expanded
  std::string body;     // expanded
  // The notification targets of the alarm and what they are told.
  std::vector<std::string> targets;
  TargetEvent targetEvent;
};

// What the notification targets are told of `host`: `event` ("loss",
// "renewal", "degraded", "recovered"), the host's address, name,
// description, status line and code, the time now, the expanded subject and
// text, and the values of the mail placeholders for a target's template.
// Window thread (it reads the host as a hand-off step may).
TargetEvent HostTargetEvent(const HostEntry& host, const std::string& event,
                            const std::string& subject, const std::string& text,
                            const DateTextFormats& formats,
                            const HistoryFigures* figures = nullptr);

// Takes the pending trace text of the host (clearing it when it goes to the
// log, at LogDetail 1 or 2) and the actions of the direction's alarm set.
// Window thread.
AlarmActions PrepareAlarm(HostEntry& host, AlarmDirection direction, const ROptions& options,
                          const DateTextFormats& formats,
                          const HistoryFigures* figures = nullptr);
// Runs the actions in their fixed order: log the trace, then (alarm on) sound,
// messenger message, e-mail, program, message box. Each action starts the
// next one when it has ended: the mail once its transfer has reported back,
// the box once it is closed; the window thread serves its queue meanwhile,
// never inside a nested loop of this alarm. When the program is leaving by
// the time the mail has ended, program and box are left out. `finished`
// runs on the window thread after the last action. Each action run is
// counted in `counters` when given. The references must outlive the alarm;
// the host is not read again. Window thread.
void RunAlarm(const AlarmActions& actions, EventLog& log, Desktop& desktop,
              AlarmChannels& channels, ActivityCounters* counters = nullptr,
              std::function<void()> finished = {});

// How long an alarm trace may hold its alarm: the loss alarm then goes out
// with the hops found so far, well within half a minute of being due (a
// reverse lookup in progress still ends first).
inline constexpr std::chrono::seconds kAlarmTraceBudget{25};
// TTLs in a row without an answer after which an alarm trace ends.
inline constexpr int32_t kAlarmTraceSilentHops = 3;
// The closing lines of an alarm trace that did not reach its end.
inline constexpr const char* kTraceSilentLine = "trace ended: 3 hops in a row without an answer\r\n";
inline constexpr const char* kTraceCutLine = "trace cut short: the alarm goes out now\r\n";

enum class AlarmTraceEnd { Complete, Silent, CutShort };

// The alarm trace on the calling thread, before the alarm is handed to the
// window thread: TraceText gets the header and one line per hop, with the
// host's trace settings, on a probe of its own over `icmp`. It ends after
// kAlarmTraceSilentHops silent TTLs in a row, or when `budget` has passed;
// either adds its closing line. Blocks until then. Ending the worker ends
// it too, through the worker's echo context.
AlarmTraceEnd AlarmTrace(HostEntry& host, const IcmpContext& icmp,
                         std::chrono::milliseconds budget = kAlarmTraceBudget);

}  // namespace sentrel
