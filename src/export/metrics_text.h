#pragma once

#include <string>
#include <string_view>

#include "core/activity_counters.h"
#include "core/host_list.h"
#include "notify/outbox.h"

namespace sentrel {

enum class ExpositionFormat { Prometheus004, OpenMetrics100 };

// The format a scraper's Accept header prefers: OpenMetrics when it names
// application/openmetrics-text with a weight at least that of every other
// type it names, else the Prometheus text format 0.0.4.
ExpositionFormat FormatForAccept(std::string_view accept);
// The Content-Type header of a body in `format`.
const char* ContentTypeOf(ExpositionFormat format);

// What the process as a whole reports beside its hosts.
struct ProcessFigures {
  bool checksRunning = false;
  const ActivityCounters* counters = nullptr;  // null: every count is 0
  const Outbox* outbox = nullptr;  // null: no notification counts, no messages waiting
  std::string version;
};

// The label value as the exposition formats require it: backslash, double
// quote and line feed escaped; bytes that are not UTF-8 replaced by U+FFFD.
std::string EscapeLabelValue(std::string_view value);

// One scrape's body. Every host is labelled address, name and description
// (a host whose three labels repeat an earlier host's gets `copy` = 2, 3, ...
// so that no series appears twice). Reads each host's figures once; any
// thread, without waiting for the workers or the window thread.
std::string RenderMetrics(const HostSnapshot& hosts, const ProcessFigures& process,
                          ExpositionFormat format);

}  // namespace sentrel
