#include "export/monitor_metrics.h"

#include "core/date_text.h"
#include "platform/process_usage.h"

namespace sentrel {

MetricsSource MonitorMetricsSource(const Monitor& monitor, const ActivityCounters& counters) {
  return [&monitor, &counters](ExpositionFormat format) {
    const std::shared_ptr<const HostSnapshot> hosts = monitor.Hosts().Snapshot();
    return RenderMetrics(*hosts, {monitor.Pinging(), &counters, SENTREL_VERSION, ReadProcessUsage()}, format);
  };
}

MetricsNotice LogMetricsNotice(EventLog& log, const Clock& clock) {
  return [&log, &clock](const std::string& text) {
    log.Write(DateTimeText(clock.Now(), DateTextFormats{}) + " " + text + "\r\n");
  };
}

}  // namespace sentrel
