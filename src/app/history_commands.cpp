#include "app/history_commands.h"

#include <optional>
#include <vector>

#include "common/clock.h"
#include "common/text.h"
#include "core/alarm.h"
#include "core/data_file.h"
#include "core/host_list.h"
#include "history/history_csv.h"
#include "history/history_period.h"
#include "history/history_reader.h"
#include "history/history_store.h"
#include "history/history_text.h"
#include "history/history_time.h"
#include "history/period_figures.h"
#include "probes/address.h"
#include "platform/terminal.h"
#include "settings/utf8_text.h"

namespace sentrel {

namespace {

int Refuse(const HistoryCommandContext& context, const std::string& message, int code) {
  return RefuseCommand(context.err, message, code);
}

std::string Figure(std::optional<double> value, const char* format) {
  if (!value) return "-";
  char text[48];
  std::snprintf(text, sizeof text, format, *value);
  return text;
}

std::string FiguresText(const PeriodFigures& f) {
  const TrafficStats& t = f.traffic;
  std::string text;
  text += "Availability  " + Figure(f.availability, "%.2f %%") + "\n";
  text += "Loss          " + Figure(t.LossPercent(), "%.2f %%") + " (" +
          std::to_string(t.sent - t.received) + " of " + std::to_string(t.sent) +
          " requests without reply)\n";
  if (t.received > 0) {
    text += "Round trip    min " + std::to_string(t.RttMinMs()) + " ms, average " +
            Figure(t.AverageRttMs(), "%.1f") + " ms, max " + std::to_string(t.RttMaxMs()) + " ms\n";
  } else {
    text += "Round trip    -\n";
  }
  text += "Jitter        " + Figure(t.JitterMs(), "%.1f ms") + "\n";
  text += "Outages       " + std::to_string(f.outages) + ", " + DurationText(f.outageSeconds) +
          " in all\n";
  text += "Monitored     " + DurationText(static_cast<double>(f.monitoredSeconds)) + " of " +
          DurationText(static_cast<double>(f.monitoredSeconds + f.unmonitoredSeconds));
  if (f.unmonitoredSeconds > 0) {
    text += " (" + DurationText(static_cast<double>(f.unmonitoredSeconds)) +
            " not monitored, not counted)";
  }
  return text + "\n";
}

// Nothing for a host never degraded in the period, so that the report of a
// host without degradation thresholds stays as it was.
std::string DegradedText(const std::vector<TimeStretch>& degraded, int64_t nowSecond) {
  if (degraded.empty()) return {};
  std::string text = "Degraded:\n";
  for (const TimeStretch& d : degraded) {
    text += "  " + SecondText(d.fromSecond) + "  " +
            (d.toSecond >= nowSecond ? std::string("going on") : "to " + SecondText(d.toSecond)) +
            "  " + DurationText(static_cast<double>(d.toSecond - d.fromSecond)) + "\n";
  }
  return text;
}

std::string TimelineText(const std::vector<OutageRow>& outages, int64_t nowSecond, bool ipv6) {
  if (outages.empty()) return "No outages.\n";
  std::string text = "Outages:\n";
  for (const OutageRow& o : outages) {
    text += "  " + SecondText(o.start) + "  ";
    if (o.end) {
      text += "to " + SecondText(*o.end) + "  " + DurationText(static_cast<double>(*o.end - o.start));
    } else {
      // Going on: its length so far; else what is known of it.
      text += OutageEndText(o, nowSecond) +
              (OutageGoesOn(o, nowSecond) ? ", down " : ", down at least ") +
              DurationText(static_cast<double>(o.EffectiveEnd() - o.start));
    }
    text += "  " + StatusName(o.status, ipv6);
    if (o.interrupted) text += "  (checks were stopped meanwhile)";
    text += "\n";
    if (!o.notified.empty()) text += "      notified: " + o.notified + "\n";
    // The trace as the log shows it, one hop a line, indented.
    for (const std::string_view line : SplitAtLineBreaks(o.trace)) {
      if (!line.empty()) text.append("      ").append(line).append("\n");
    }
  }
  return text;
}

// The same address, however written: an IPv6 address has many spellings
// ("2001:DB8:0::7" is "2001:db8::7").
bool SameAddress(const std::string& stored, const std::string& typed) {
  if (stored == typed) return true;
  const auto a = ParseAddress(stored);
  const auto b = ParseAddress(typed);
  return a && b && *a == *b;
}

// The history identity the command names: a row of the list, or a host
// that has left it (by address or name).
std::optional<HistoryHost> TargetOf(const CliCommand& command, const HistoryCommandContext& context,
                                    HistoryReader& reader, int& code) {
  if (command.row > 0) {
    SystemClock clock;
    HostList list(clock);
    if (const HostFileLoad load = LoadHosts(list, context.dataFolder); !load.error.empty()) {
      code = Refuse(context, load.error, 1);
      return std::nullopt;
    }
    const auto row = ListRowOf(command, list, context.err, code);
    if (!row) return std::nullopt;
    return HistoryHostOf(list.Host(*row));
  }
  for (const StoredHost& stored : reader.Hosts()) {
    // Names are compared as the system compares computer names: without
    // regard to letter case, in any script.
    if (SameAddress(stored.host.address, command.address) ||
        FoldLetterCase(stored.host.name) == FoldLetterCase(command.address))
      return stored.host;
  }
  code = Refuse(context, "no history of " + command.address, 1);
  return std::nullopt;
}

}  // namespace

int ShowHistory(const CliCommand& command, const HistoryCommandContext& context) {
  HistoryReader reader;
  std::string error;
  if (!reader.Open(HistoryStore::PathIn(context.dataFolder), &error)) {
    return Refuse(context, error, 1);
  }
  int code = 0;
  const std::optional<HistoryHost> host = TargetOf(command, context, reader, code);
  if (!host) return code;
  const std::optional<int64_t> id = reader.FindHost(*host);
  if (!id) return Refuse(context, "no history of " + HostText(*host) + " yet", 1);

  const DateTime since = command.since.value_or(context.now - 1.0);
  const PeriodSpan span = SpanSince(since, context.now);
  if (command.kind == CliCommand::Kind::HistoryCsv) {
    const std::string csv = HistoryCsv(reader.Minutes(*id, span.fromMinute, span.toMinute));
    std::fwrite(csv.data(), 1, csv.size(), context.out);
    return 0;
  }
  const PeriodHistory period = ReadPeriod(reader, *id, span, context.now);
  const std::string text = "History of " + HostText(*host) + " from " +
                           SecondText(period.fromSecond) + " to " + SecondText(period.toSecond) +
                           "\n\n" + FiguresText(period.figures) + "\n" +
                           TimelineText(period.outages, period.toSecond, IsIpv6Host(*host)) +
                           DegradedText(period.degraded, period.toSecond);
  WriteTerminalText(context.out, TextForCodePage(text, context.terminalCodePage));
  return 0;
}

}  // namespace sentrel
