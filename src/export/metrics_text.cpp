#include "export/metrics_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <optional>
#include <vector>

#include "common/text.h"
#include "settings/utf8_text.h"

namespace sentrel {

namespace {

// One host's figures, read once so that every family shows the same moment.
struct HostFigures {
  std::string labels;  // `{address="..",name="..",description=".."` without the closing brace
  std::optional<int> up;
  int32_t state = -1;
  bool enabled = false;
  std::optional<double> lastRtt;
  std::optional<double> avgRtt;
  uint64_t requests = 0;
  uint64_t replies = 0;
  RttHistogram rtt;
  std::optional<double> lastCheck;
};

std::string Number(double value) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

double Seconds(int64_t ms) { return static_cast<double>(ms) / 1000.0; }

HostFigures ReadHost(const HostEntry& host) {
  HostFigures f;
  f.labels = "{address=\"" + EscapeLabelValue(host.HostIP.Get()) + "\",name=\"" +
             EscapeLabelValue(host.HostName.Get()) + "\",description=\"" +
             EscapeLabelValue(host.HostDesc.Get()) + "\"";
  f.state = host.State.load();
  if (host.WasChecked && f.state != -1) f.up = f.state == 0 ? 1 : 0;
  f.enabled = host.Enabled;
  f.requests = host.Counters.Requests.load(std::memory_order_relaxed);
  f.replies = host.Counters.Replies.load(std::memory_order_relaxed);
  if (f.replies > 0) {
    if (const int32_t last = host.LastReplyTime; last >= 0) f.lastRtt = Seconds(last);
    if (const int32_t average = host.AvgTime; average >= 0) f.avgRtt = Seconds(average);
  }
  f.rtt = ReadRttHistogram(host.Counters);
  // Before the first reply the buckets have no bounds of their own yet.
  if (f.rtt.count == 0) {
    f.rtt.boundsMs = LightTimesOf(host);
    std::sort(f.rtt.boundsMs.begin(), f.rtt.boundsMs.end());
  }
  if (const int64_t ms = host.Counters.LastResultUnixMs.load(std::memory_order_relaxed); ms > 0) {
    f.lastCheck = Seconds(ms);
  }
  return f;
}

class Writer {
 public:
  explicit Writer(ExpositionFormat format) : openMetrics_(format == ExpositionFormat::OpenMetrics100) {}

  // HELP and TYPE of a family. OpenMetrics names a counter's family
  // without its "_total" and an info family without its "_info".
  void Family(std::string_view name, std::string_view type, std::string_view help) {
    std::string family(name);
    if (openMetrics_ && type == "counter") family.resize(family.size() - std::string_view("_total").size());
    if (type == "info") {
      if (openMetrics_) {
        family.resize(family.size() - std::string_view("_info").size());
      } else {
        type = "gauge";
      }
    }
    out_ += "# HELP " + family + " " + std::string(help) + "\n";
    out_ += "# TYPE " + family + " " + std::string(type) + "\n";
  }
  void Sample(std::string_view name, std::string_view labels, std::string_view value) {
    out_ += name;
    if (!labels.empty()) {
      out_ += labels;
      out_ += '}';
    }
    out_ += ' ';
    out_ += value;
    out_ += '\n';
  }
  std::string Finish() {
    if (openMetrics_) out_ += "# EOF\n";
    return std::move(out_);
  }
  void Reserve(std::size_t bytes) { out_.reserve(bytes); }

 private:
  bool openMetrics_;
  std::string out_;
};

// Gives a repeated label set a `copy` label so that every series is unique.
void MarkCopies(std::vector<HostFigures>& hosts) {
  std::map<std::string, int> seen;
  for (HostFigures& host : hosts) {
    const int copy = ++seen[host.labels];
    if (copy > 1) host.labels += ",copy=\"" + std::to_string(copy) + "\"";
  }
}

template <typename Value>
void PerHost(Writer& w, const std::vector<HostFigures>& hosts, std::string_view name,
             std::string_view type, std::string_view help, Value value) {
  w.Family(name, type, help);
  for (const HostFigures& host : hosts) {
    if (const std::optional<std::string> text = value(host)) w.Sample(name, host.labels, *text);
  }
}

void RttHistograms(Writer& w, const std::vector<HostFigures>& hosts) {
  constexpr std::string_view kName = "sentrel_host_rtt_seconds";
  w.Family(kName, "histogram",
           "Round-trip times of the host's replies, in buckets bounded by its light thresholds.");
  for (const HostFigures& host : hosts) {
    const RttHistogram& h = host.rtt;
    const std::string bucketLabels = host.labels + ",le=\"";
    for (std::size_t i = 0; i < h.boundsMs.size(); ++i) {
      // Equal thresholds would name one bucket twice; no time is negative.
      if ((i > 0 && h.boundsMs[i] == h.boundsMs[i - 1]) || h.boundsMs[i] < 0) continue;
      w.Sample("sentrel_host_rtt_seconds_bucket", bucketLabels + Number(Seconds(h.boundsMs[i])) + "\"",
               std::to_string(h.cumulative[i]));
    }
    w.Sample("sentrel_host_rtt_seconds_bucket", bucketLabels + "+Inf\"", std::to_string(h.count));
    w.Sample("sentrel_host_rtt_seconds_sum", host.labels, Number(Seconds(static_cast<int64_t>(h.sumMs))));
    w.Sample("sentrel_host_rtt_seconds_count", host.labels, std::to_string(h.count));
  }
}

void ProcessFamilies(Writer& w, const ProcessFigures& process, std::size_t hostCount) {
  w.Family("sentrel_checks_running", "gauge", "1 while checks run, 0 while they are stopped.");
  w.Sample("sentrel_checks_running", {}, process.checksRunning ? "1" : "0");
  w.Family("sentrel_hosts", "gauge", "Hosts on the list.");
  w.Sample("sentrel_hosts", {}, std::to_string(hostCount));

  struct ActionRow {
    AlarmAction action;
    const char* name;
    bool reportsOutcome;
  };
  constexpr ActionRow kActions[] = {{AlarmAction::Sound, "sound", false},
                                    {AlarmAction::Messenger, "messenger", true},
                                    {AlarmAction::Mail, "mail", true},
                                    {AlarmAction::Program, "program", false},
                                    {AlarmAction::MessageBox, "box", false}};
  auto count = [&](AlarmDirection d, AlarmAction a, ActionResult r) {
    return std::to_string(process.counters ? process.counters->AlarmActions(d, a, r) : 0);
  };
  w.Family("sentrel_alarms_total", "counter",
           "Alarm actions run, by direction, action and result (done: the desktop reports no result).");
  for (const auto& [direction, dirName] :
       {std::pair{AlarmDirection::Loss, "loss"}, std::pair{AlarmDirection::Renewal, "renewal"}}) {
    for (const ActionRow& row : kActions) {
      const std::string labels =
          std::string("{direction=\"") + dirName + "\",action=\"" + row.name + "\",result=\"";
      if (row.reportsOutcome) {
        w.Sample("sentrel_alarms_total", labels + "ok\"", count(direction, row.action, ActionResult::Ok));
        w.Sample("sentrel_alarms_total", labels + "failed\"",
                 count(direction, row.action, ActionResult::Failed));
      } else {
        w.Sample("sentrel_alarms_total", labels + "done\"", count(direction, row.action, ActionResult::Done));
      }
    }
  }
  w.Family("sentrel_mail_transfers_total", "counter", "Mail transfers, by whether the server accepted the message.");
  for (const bool ok : {true, false}) {
    w.Sample("sentrel_mail_transfers_total", ok ? "{result=\"ok\"" : "{result=\"failed\"",
             std::to_string(process.counters ? process.counters->MailTransfers(ok) : 0));
  }
  // Every kind and result from the start, so that rates work from the first scrape.
  Outbox::Counts notifications = process.outbox ? process.outbox->CountsSnapshot() : Outbox::Counts{};
  for (const std::string_view kind : kTargetKinds) {
    for (const char* result : {"delivered", "retry", "given_up"}) {
      notifications.try_emplace({std::string(kind), result}, 0);
    }
  }
  for (const char* result : {"delivered", "retry", "given_up"}) notifications.try_emplace({"mail", result}, 0);
  w.Family("sentrel_notifications_total", "counter",
           "Attempts to deliver mail and target notifications from the outbox, by kind and result "
           "(retry: failed, tried again later; given_up: failed for good).");
  for (const auto& [key, attempts] : notifications) {
    w.Sample("sentrel_notifications_total",
             "{kind=\"" + EscapeLabelValue(key.first) + "\",result=\"" + key.second + "\"",
             std::to_string(attempts));
  }
  w.Family("sentrel_outbox_messages", "gauge", "Mail and notifications waiting in the outbox.");
  w.Sample("sentrel_outbox_messages", {}, std::to_string(process.outbox ? process.outbox->Pending() : 0));
  w.Family("sentrel_build_info", "info", "The running program's version.");
  w.Sample("sentrel_build_info", "{version=\"" + EscapeLabelValue(process.version) + "\"", "1");
}

// The weight ("q") of one entry of an Accept header; 1 when it has none.
double WeightOf(std::string_view entry) {
  double weight = 1.0;
  for (std::size_t semicolon = entry.find(';'); semicolon != std::string_view::npos;
       semicolon = entry.find(';', semicolon + 1)) {
    const std::string_view parameter = TrimBlanksView(entry.substr(semicolon + 1));
    if (parameter.starts_with("q=")) {
      std::from_chars(parameter.data() + 2, parameter.data() + parameter.size(), weight);
    }
  }
  return weight;
}

}  // namespace

ExpositionFormat FormatForAccept(std::string_view accept) {
  double openMetrics = -1.0;
  double other = -1.0;
  while (!accept.empty()) {
    const std::size_t comma = accept.find(',');
    const std::string entry = AsciiLower(TrimBlanksView(accept.substr(0, comma)));
    accept = comma == std::string_view::npos ? std::string_view() : accept.substr(comma + 1);
    if (entry.empty()) continue;
    double& best = entry.starts_with("application/openmetrics-text") ? openMetrics : other;
    best = std::max(best, WeightOf(entry));
  }
  return openMetrics > 0.0 && openMetrics >= other ? ExpositionFormat::OpenMetrics100
                                                   : ExpositionFormat::Prometheus004;
}

const char* ContentTypeOf(ExpositionFormat format) {
  return format == ExpositionFormat::OpenMetrics100
             ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
             : "text/plain; version=0.0.4; charset=utf-8";
}

std::string EscapeLabelValue(std::string_view value) {
  const std::string text = RepairUtf8(value);
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\': escaped += "\\\\"; break;
      case '"': escaped += "\\\""; break;
      case '\n': escaped += "\\n"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string RenderMetrics(const HostSnapshot& snapshot, const ProcessFigures& process,
                          ExpositionFormat format) {
  std::vector<HostFigures> hosts;
  hosts.reserve(snapshot.size());
  for (const auto& host : snapshot) hosts.push_back(ReadHost(*host));
  MarkCopies(hosts);

  Writer w(format);
  w.Reserve(2048 + hosts.size() * 2048);
  ProcessFamilies(w, process, hosts.size());
  auto integer = [](auto value) { return std::optional<std::string>(std::to_string(value)); };
  auto seconds = [](const std::optional<double>& value) {
    return value ? std::optional<std::string>(Number(*value)) : std::nullopt;
  };
  PerHost(w, hosts, "sentrel_host_up", "gauge", "1 when the host's last check was answered, 0 when it was lost.",
          [](const HostFigures& h) { return h.up ? std::optional<std::string>(h.up == 1 ? "1" : "0") : std::nullopt; });
  PerHost(w, hosts, "sentrel_host_state_code", "gauge",
          "The host's state: 0 answering, -1 not yet determined, else the status code of the failed check.",
          [&](const HostFigures& h) { return integer(h.state); });
  PerHost(w, hosts, "sentrel_host_enabled", "gauge", "1 when the host takes part in monitoring.",
          [](const HostFigures& h) { return std::optional<std::string>(h.enabled ? "1" : "0"); });
  PerHost(w, hosts, "sentrel_host_last_rtt_seconds", "gauge", "Round-trip time of the host's latest reply.",
          [&](const HostFigures& h) { return seconds(h.lastRtt); });
  PerHost(w, hosts, "sentrel_host_rtt_average_seconds", "gauge",
          "The host's running average round-trip time, as the list shows it.",
          [&](const HostFigures& h) { return seconds(h.avgRtt); });
  PerHost(w, hosts, "sentrel_host_requests_total", "counter", "Echo requests sent to the host.",
          [&](const HostFigures& h) { return integer(h.requests); });
  PerHost(w, hosts, "sentrel_host_replies_total", "counter", "Echo replies received from the host.",
          [&](const HostFigures& h) { return integer(h.replies); });
  RttHistograms(w, hosts);
  PerHost(w, hosts, "sentrel_host_last_check_timestamp_seconds", "gauge",
          "When the host's latest echo result arrived, in seconds since 1970.",
          [&](const HostFigures& h) { return seconds(h.lastCheck); });
  return w.Finish();
}

}  // namespace sentrel
