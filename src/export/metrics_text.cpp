#include "export/metrics_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <unordered_map>
#include <vector>

#include "common/text.h"
#include "settings/utf8_text.h"

namespace sentrel {

namespace {

// One sample's value: a whole number, a real one, or none (the sample is
// left out, as for a figure that does not exist yet).
struct Figure {
  enum class Kind { None, Whole, Real } kind = Kind::None;
  int64_t whole = 0;
  double real = 0;
};
Figure Absent() { return {}; }
Figure Whole(int64_t value) { return {Figure::Kind::Whole, value, 0}; }
Figure Real(double value) { return {Figure::Kind::Real, 0, value}; }
template <typename T>
Figure WholeOr(const std::optional<T>& value) {
  return value ? Whole(static_cast<int64_t>(*value)) : Absent();
}
Figure SecondsOfUs(std::optional<double> us) { return us ? Real(*us / 1e6) : Absent(); }
Figure SecondsOfMs(int64_t ms) { return Real(static_cast<double>(ms) / 1e3); }

// The `le` labels of the round-trip buckets, written once in plain decimals.
const std::array<std::string, EchoCounters::kBounds>& BucketLabels() {
  static const std::array<std::string, EchoCounters::kBounds> labels = [] {
    std::array<std::string, EchoCounters::kBounds> texts;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      std::array<char, 32> buffer{};
      const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                     EchoCounters::kBoundsUs[i] / 1e6, std::chars_format::fixed);
      texts[i] = ",le=\"" + std::string(buffer.data(), end.ptr) + "\"";
    }
    return texts;
  }();
  return labels;
}

// One host's figures, read once so that every family shows the same moment.
struct HostFigures {
  std::string identity;
  std::string labels;  // `{address=".."` (and `,copy=".."`) without the closing brace
  std::string name;
  std::string description;
  std::optional<int> up;
  int32_t state = -1;
  bool enabled = false;
  bool degraded = false;
  std::optional<double> lastRttUs;
  std::optional<int32_t> avgRttMs;
  uint64_t requests = 0;
  uint64_t replies = 0;
  RttHistogram rtt;
  std::optional<int64_t> lastCheckMs;
  std::optional<int64_t> stateSinceMs;
  int32_t failures = 0;
  std::optional<int32_t> intervalSeconds;
  std::optional<int32_t> replyTtl;
  std::optional<double> jitterUs;
};

HostFigures ReadHost(const HostEntry& host) {
  constexpr auto kRelaxed = std::memory_order_relaxed;
  const EchoCounters& c = host.Counters;
  HostFigures f;
  f.identity = HostIdentity(host);
  f.name = host.HostName.Get();
  f.description = host.HostDesc.Get();
  f.state = host.State.load();
  if (host.WasChecked && f.state != -1) f.up = f.state == 0 ? 1 : 0;
  f.enabled = host.Enabled;
  f.degraded = IsDegradedNow(host);
  f.requests = c.Requests.load(kRelaxed);
  f.replies = c.Replies.load(kRelaxed);
  // A host that is down has no latest round trip: the last one it had
  // would read as a current figure through the whole outage.
  if (f.up == 1) {
    if (const int64_t us = c.LastRttUs.load(kRelaxed); us >= 0) f.lastRttUs = static_cast<double>(us);
    if (const int32_t ttl = c.LastReplyTtl.load(kRelaxed); ttl >= 0) f.replyTtl = ttl;
  }
  if (f.replies > 0) {
    if (const int32_t average = host.AvgTime; average >= 0) f.avgRttMs = average;
  }
  f.rtt = ReadRttHistogram(c);
  if (const int64_t ms = c.LastResultUnixMs.load(kRelaxed); ms > 0) f.lastCheckMs = ms;
  if (const int64_t ms = c.DecidedSinceUnixMs.load(kRelaxed); ms > 0) f.stateSinceMs = ms;
  f.failures = host.FailCount;
  if (host.CheckEvery == kCheckAlways) f.intervalSeconds = host.PingInterval.load();
  f.jitterUs = JitterUs(c);
  return f;
}

class Writer {
 public:
  explicit Writer(ExpositionFormat format) : openMetrics_(format == ExpositionFormat::OpenMetrics100) {}

  // HELP and TYPE of a family. OpenMetrics names a counter's family
  // without its "_total" and an info family without its "_info".
  void Family(std::string_view name, std::string_view type, std::string_view help) {
    std::string_view family = name;
    if (openMetrics_ && type == "counter") family.remove_suffix(std::string_view("_total").size());
    if (type == "info") {
      if (openMetrics_) {
        family.remove_suffix(std::string_view("_info").size());
      } else {
        type = "gauge";
      }
    }
    Append("# HELP ", family, " ", help, "\n# TYPE ", family, " ", type, "\n");
  }
  // `labels` is an open label set (`{a="b"`) or empty.
  void Sample(std::string_view name, std::string_view labels, const Figure& value,
              std::string_view moreLabels = {}) {
    if (value.kind == Figure::Kind::None) return;
    out_ += name;
    if (!labels.empty()) Append(labels, moreLabels, "}");
    out_ += ' ';
    std::array<char, 32> buffer{};
    char* end = buffer.data();
    if (value.kind == Figure::Kind::Whole) {
      end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value.whole).ptr;
    } else if (std::isnan(value.real)) {
      end = std::copy_n("NaN", 3, buffer.data());
    } else {
      end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value.real).ptr;
    }
    out_.append(buffer.data(), end);
    out_ += '\n';
  }
  std::string Finish() {
    if (openMetrics_) out_ += "# EOF\n";
    return std::move(out_);
  }
  void Reserve(std::size_t bytes) { out_.reserve(bytes); }

 private:
  template <typename... Parts>
  void Append(const Parts&... parts) {
    (out_.append(parts), ...);
  }

  bool openMetrics_;
  std::string out_;
};

// Labels every host by its identity, giving a repeated one a `copy` label so
// that every series is unique.
void LabelHosts(std::vector<HostFigures>& hosts) {
  std::unordered_map<std::string, int> seen;
  for (HostFigures& host : hosts) {
    host.labels = "{address=\"" + EscapeLabelValue(host.identity) + "\"";
    const int copy = ++seen[host.identity];
    if (copy > 1) host.labels += ",copy=\"" + std::to_string(copy) + "\"";
  }
}

template <typename Value>
void PerHost(Writer& w, const std::vector<HostFigures>& hosts, std::string_view name,
             std::string_view type, std::string_view help, Value value) {
  w.Family(name, type, help);
  for (const HostFigures& host : hosts) w.Sample(name, host.labels, value(host));
}

void HostInfo(Writer& w, const std::vector<HostFigures>& hosts) {
  w.Family("sentrel_host_info", "info",
           "1 for every host on the list, with its name and description; join on address (and copy).");
  for (const HostFigures& host : hosts) {
    const std::string more = ",name=\"" + EscapeLabelValue(host.name) + "\",description=\"" +
                             EscapeLabelValue(host.description) + "\"";
    w.Sample("sentrel_host_info", host.labels, Whole(1), more);
  }
}

void RttHistograms(Writer& w, const std::vector<HostFigures>& hosts) {
  w.Family("sentrel_host_rtt_seconds", "histogram",
           "Round-trip times of the host's replies, in fixed buckets from 100 us to 10 s.");
  const auto& bounds = BucketLabels();
  for (const HostFigures& host : hosts) {
    const RttHistogram& h = host.rtt;
    for (std::size_t i = 0; i < bounds.size(); ++i) {
      w.Sample("sentrel_host_rtt_seconds_bucket", host.labels,
               Whole(static_cast<int64_t>(h.cumulative[i])), bounds[i]);
    }
    w.Sample("sentrel_host_rtt_seconds_bucket", host.labels, Whole(static_cast<int64_t>(h.count)),
             ",le=\"+Inf\"");
    w.Sample("sentrel_host_rtt_seconds_sum", host.labels, Real(static_cast<double>(h.sumUs) / 1e6));
    w.Sample("sentrel_host_rtt_seconds_count", host.labels, Whole(static_cast<int64_t>(h.count)));
  }
}

// The families every exporter's process reports, under their usual names.
void ProcessUsageFamilies(Writer& w, const ProcessUsage& usage) {
  auto one = [&w](std::string_view name, std::string_view type, std::string_view help, const Figure& value) {
    if (value.kind == Figure::Kind::None) return;
    w.Family(name, type, help);
    w.Sample(name, {}, value);
  };
  one("process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.",
      usage.cpuSeconds ? Real(*usage.cpuSeconds) : Absent());
  one("process_open_fds", "gauge", "Number of open file descriptors.", WholeOr(usage.openFiles));
  one("process_max_fds", "gauge", "Maximum number of open file descriptors.", WholeOr(usage.maxFiles));
  one("process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.", WholeOr(usage.virtualBytes));
  one("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.", WholeOr(usage.residentBytes));
  one("process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.",
      usage.startTimeSeconds ? Real(*usage.startTimeSeconds) : Absent());
  one("process_threads", "gauge", "Number of OS threads in the process.", WholeOr(usage.threads));
}

void ProcessFamilies(Writer& w, const ProcessFigures& process, std::size_t hostCount) {
  w.Family("sentrel_checks_running", "gauge", "1 while checks run, 0 while they are stopped.");
  w.Sample("sentrel_checks_running", {}, Whole(process.checksRunning ? 1 : 0));
  w.Family("sentrel_hosts", "gauge", "Hosts on the list.");
  w.Sample("sentrel_hosts", {}, Whole(static_cast<int64_t>(hostCount)));

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
    return Whole(process.counters ? static_cast<int64_t>(process.counters->AlarmActions(d, a, r)) : 0);
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
             Whole(process.counters ? static_cast<int64_t>(process.counters->MailTransfers(ok)) : 0));
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
             Whole(static_cast<int64_t>(attempts)));
  }
  w.Family("sentrel_outbox_messages", "gauge", "Mail and notifications waiting in the outbox.");
  w.Sample("sentrel_outbox_messages", {},
           Whole(process.outbox ? static_cast<int64_t>(process.outbox->Pending()) : 0));
  w.Family("sentrel_build_info", "info", "The running program's version.");
  w.Sample("sentrel_build_info", "{version=\"" + EscapeLabelValue(process.version) + "\"", Whole(1));
  ProcessUsageFamilies(w, process.usage);
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

bool AcceptsGzip(std::string_view acceptEncoding) {
  double gzip = -1.0;
  double any = -1.0;
  while (!acceptEncoding.empty()) {
    const std::size_t comma = acceptEncoding.find(',');
    const std::string entry = AsciiLower(TrimBlanksView(acceptEncoding.substr(0, comma)));
    acceptEncoding = comma == std::string_view::npos ? std::string_view() : acceptEncoding.substr(comma + 1);
    const std::string_view coding = TrimBlanksView(std::string_view(entry).substr(0, entry.find(';')));
    if (coding == "gzip" || coding == "x-gzip") {
      gzip = std::max(gzip, WeightOf(entry));
    } else if (coding == "*") {
      any = std::max(any, WeightOf(entry));
    }
  }
  // A coding named outright outweighs the wildcard, "gzip;q=0" included.
  return gzip >= 0.0 ? gzip > 0.0 : any > 0.0;
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

std::string HostIdentity(const HostEntry& host) {
  return host.PingByIP ? host.HostIP.Get() : host.HostName.Get();
}

std::string RenderMetrics(const HostSnapshot& snapshot, const ProcessFigures& process,
                          ExpositionFormat format) {
  std::vector<HostFigures> hosts;
  hosts.reserve(snapshot.size());
  for (const auto& host : snapshot) hosts.push_back(ReadHost(*host));
  LabelHosts(hosts);

  Writer w(format);
  w.Reserve(4096 + hosts.size() * 2560);
  ProcessFamilies(w, process, hosts.size());
  HostInfo(w, hosts);
  PerHost(w, hosts, "sentrel_host_up", "gauge", "1 when the host's last check was answered, 0 when it was lost.",
          [](const HostFigures& h) { return WholeOr(h.up); });
  PerHost(w, hosts, "sentrel_host_state_code", "gauge",
          "The host's state: 0 answering, -1 not yet determined, else the status code of the failed check.",
          [](const HostFigures& h) { return Whole(h.state); });
  PerHost(w, hosts, "sentrel_host_degraded", "gauge",
          "1 while the host answers but above its latency or loss threshold (until both are below 80 % of them).",
          [](const HostFigures& h) { return Whole(h.degraded ? 1 : 0); });
  PerHost(w, hosts, "sentrel_host_enabled", "gauge", "1 when the host takes part in monitoring.",
          [](const HostFigures& h) { return Whole(h.enabled ? 1 : 0); });
  PerHost(w, hosts, "sentrel_host_last_rtt_seconds", "gauge",
          "Round-trip time of the host's latest reply; absent while the host is lost.",
          [](const HostFigures& h) { return SecondsOfUs(h.lastRttUs); });
  PerHost(w, hosts, "sentrel_host_rtt_average_seconds", "gauge",
          "The host's running average round-trip time, as the list shows it (whole milliseconds).",
          [](const HostFigures& h) { return h.avgRttMs ? SecondsOfMs(*h.avgRttMs) : Absent(); });
  PerHost(w, hosts, "sentrel_host_jitter_seconds", "gauge",
          "Mean difference between consecutive replies' round trips, over the latest 16 pairs.",
          [](const HostFigures& h) { return SecondsOfUs(h.jitterUs); });
  PerHost(w, hosts, "sentrel_host_reply_ttl", "gauge", "TTL of the host's latest reply; absent while the host is lost.",
          [](const HostFigures& h) { return WholeOr(h.replyTtl); });
  PerHost(w, hosts, "sentrel_host_requests_total", "counter", "Echo requests sent to the host.",
          [](const HostFigures& h) { return Whole(static_cast<int64_t>(h.requests)); });
  PerHost(w, hosts, "sentrel_host_replies_total", "counter", "Echo replies received from the host.",
          [](const HostFigures& h) { return Whole(static_cast<int64_t>(h.replies)); });
  PerHost(w, hosts, "sentrel_host_consecutive_failures", "gauge",
          "Echo requests to the host that failed in a row since its latest reply.",
          [](const HostFigures& h) { return Whole(h.failures); });
  PerHost(w, hosts, "sentrel_host_check_interval_seconds", "gauge",
          "Seconds between the checks of a host checked always; absent for a host with a schedule.",
          [](const HostFigures& h) { return WholeOr(h.intervalSeconds); });
  RttHistograms(w, hosts);
  PerHost(w, hosts, "sentrel_host_last_check_timestamp_seconds", "gauge",
          "When the host's latest echo result arrived, in seconds since 1970.",
          [](const HostFigures& h) { return h.lastCheckMs ? SecondsOfMs(*h.lastCheckMs) : Absent(); });
  PerHost(w, hosts, "sentrel_host_last_state_change_timestamp_seconds", "gauge",
          "When the host last went from answering to lost or back, in seconds since 1970.",
          [](const HostFigures& h) { return h.stateSinceMs ? SecondsOfMs(*h.stateSinceMs) : Absent(); });
  return w.Finish();
}

}  // namespace sentrel
