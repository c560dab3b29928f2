#pragma once

#include <optional>
#include <string>

#include "platform/service.h"

namespace sentrel {

struct HeadlessRunOptions {
  bool ping = false;          // --ping: start checks whatever was stored
  std::string programFolder;  // fallback folder of smtp.log
  // --metrics ADDRESS:PORT, in place of the MetricsListen option for this run.
  std::optional<std::string> metricsListen;
  // Set when the run is a service's work: receives the steps that stop the
  // run and pause or resume its checks, and empty steps before it ends.
  ServiceStepsSink service;
};

// Runs the monitoring engine without a window until SIGINT or SIGTERM (or a
// stop request of the system or the service control manager): the
// options and "isPinging" from the registry file, the hosts from the data
// folder, the event log (every line also on standard output), the status
// message once a minute. On the signal the workers are ended, a modified
// host list is saved and "isPinging" is written. The metrics endpoint runs
// for the whole run when MetricsListen or --metrics names an address. Holds the single-instance
// lock for the whole run; returns 0 at once when another instance holds it.
//
// Call from main before any other thread exists: SIGINT and SIGTERM are
// blocked in every thread and taken by a thread of the runner's own.
int RunHeadless(const HeadlessRunOptions& options);

}  // namespace sentrel
