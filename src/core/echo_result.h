#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/ip_address.h"
#include "core/date_text.h"
#include "core/host_entry.h"
#include "core/monitor_services.h"
#include "probes/ping_probe.h"

namespace sentrel {

// "<date> <time> <address> (<name>) is online (<rtt>ms).\r\n" for a reply
// (status 0), "<date> <time> <address> (<name>) is failed.\r\n" otherwise.
std::string StatusLine(DateTime when, uint32_t status, const IpAddress& address, uint32_t rtt,
                       const std::string& name, const DateTextFormats& formats);

// The handler of a host probe's OnEcho: figures, status line, state, log line,
// repeat counters and alarms, then the next check time. Runs on the thread
// that raised the event. The log line and the alarm are handed to the window
// thread and waited for; on a worker that is being ended they are dropped.
// The alarm trace runs on the calling thread before the alarm is handed on.
// `detail` is what the probe measured beyond `rtt` (ms): the round trip in
// microseconds, which the endpoint and the history keep, and the reply's
// TTL. Without it the milliseconds count.
void OnEchoResult(HostEntry& host, const MonitorServices& services, uint32_t status,
                  const IpAddress& address, uint32_t rtt, const std::string& tag,
                  std::optional<EchoDetail> detail = std::nullopt);

// The log line of a change of a host's degradation: "<date> <time>
// <address> (<name>) is degraded: average 512 ms, loss 0% of the latest 10
// requests.", "... is no longer degraded: ..." or, when its limits were
// switched off, "... is no longer judged for degradation.", CR LF ended.
std::string DegradationLine(DateTime when, DegradationChange change,
                            const DegradationFigures& figures, const std::string& address,
                            const std::string& name, const DateTextFormats& formats);

// The light of an answering host, 1..4: the first of LightTimes that LastRtt
// does not exceed; 1 when it exceeds them all.
int Light(const HostEntry& host);

// The row of a host that is down while its loss alarm is held: a parent of
// it, or this computer's uplink, is down.
inline constexpr int kUnreachableImage = 9;  // after the three header images
inline constexpr const char* kUnreachableText = "Unreachable";

// The row image of a degraded host, after the unreachable one.
inline constexpr int kDegradedRowImage = 10;

// What the list refresh shows in a row. Unset texts stay as they are.
struct RowView {
  // 0 not checked, 1..4 lights, 5 not available, 9 unreachable,
  // kDegradedRowImage degraded
  int image = 0;
  bool degraded = false;  // avgTime then says "Degraded"
  std::optional<std::string> avgTime;
  std::optional<std::string> lastTime;
  std::optional<std::string> caption;  // the resolved HostIP of a host pinged by name
};
RowView ViewOfRow(const HostEntry& host, bool ticked);

}  // namespace sentrel
