#pragma once

#include <string>
#include <string_view>

#include "core/activity_counters.h"
#include "core/host_list.h"
#include "notify/outbox.h"
#include "platform/process_usage.h"

namespace sentrel {

enum class ExpositionFormat { Prometheus004, OpenMetrics100 };

// The format a scraper's Accept header prefers: OpenMetrics when it names
// application/openmetrics-text with a weight at least that of every other
// type it names, else the Prometheus text format 0.0.4.
ExpositionFormat FormatForAccept(std::string_view accept);
// Whether an Accept-Encoding header lets the answer be gzip-compressed:
// gzip (or x-gzip, or *) with a weight above 0.
bool AcceptsGzip(std::string_view acceptEncoding);
// The Content-Type header of a body in `format`.
const char* ContentTypeOf(ExpositionFormat format);

// What the process as a whole reports beside its hosts.
struct ProcessFigures {
  bool checksRunning = false;
  const ActivityCounters* counters = nullptr;  // null: every count is 0
  std::string version;
  ProcessUsage usage;  // the standard process_* families; unset figures are left out
  const Outbox* outbox = nullptr;  // null: no notification counts, no messages waiting
};

// The label value as the exposition formats require it: backslash, double
// quote and line feed escaped; bytes that are not UTF-8 replaced by U+FFFD.
std::string EscapeLabelValue(std::string_view value);

// The `address` label of a host: the address it is checked at, or for a
// host checked by name that name, which stays while its address follows
// the name server.
std::string HostIdentity(const HostEntry& host);

// One scrape's body. Every host's series carry only its `address` (a host
// whose address repeats an earlier host's gets `copy` = 2, 3, ... so that no
// series appears twice), so that renaming or describing a host never splits
// them; sentrel_host_info carries name and description for joins. Reads each
// host's figures once; any thread, without waiting for the workers or the
// window thread.
std::string RenderMetrics(const HostSnapshot& hosts, const ProcessFigures& process,
                          ExpositionFormat format);

}  // namespace sentrel
