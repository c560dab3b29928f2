#pragma once

#include "common/clock.h"
#include "core/activity_counters.h"
#include "core/event_log.h"
#include "core/monitor.h"
#include "core/ui_thread.h"
#include "export/metrics_server.h"

namespace sentrel {

// The scrape of a running engine: its host list's latest snapshot, whether
// checks run, the alarm and mail counts, the program's version. Both
// references must outlive every server that uses the source.
// `outbox`, when given, must outlive them too.
MetricsSource MonitorMetricsSource(const Monitor& monitor, const ActivityCounters& counters,
                                   const Outbox* outbox = nullptr);

// The endpoint's notices as event log lines with the date and time in
// front, written on the window thread (a retry reports from a thread of its
// own). `log`, `clock` and `ui` must outlive the server.
MetricsNotice LogMetricsNotice(EventLog& log, const Clock& clock, UiThread& ui);

}  // namespace sentrel
