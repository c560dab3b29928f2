#include "export/monitor_metrics.h"

#include "core/date_text.h"
#include "platform/process_usage.h"

namespace sentrel {

MetricsSource MonitorMetricsSource(const Monitor& monitor, const ActivityCounters& counters,
                                   const Outbox* outbox) {
  return [&monitor, &counters, outbox](ExpositionFormat format) {
    const std::shared_ptr<const HostSnapshot> hosts = monitor.Hosts().Snapshot();
    return RenderMetrics(*hosts, {monitor.Pinging(), &counters, SENTREL_VERSION, ReadProcessUsage(), outbox},
                         format);
  };
}

MetricsNotice LogMetricsNotice(EventLog& log, const Clock& clock, UiThread& ui) {
  return [&log, &clock, &ui](const std::string& text) {
    const std::string line = DateTimeText(clock.Now(), DateTextFormats{}) + " " + text + "\r\n";
    if (ui.IsUiThread()) {
      log.Write(line);
    } else {
      ui.Post([&log, line] { log.Write(line); });
    }
  };
}

}  // namespace sentrel
