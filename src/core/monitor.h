#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

#include "core/data_file.h"
#include "core/host_list.h"
#include "core/monitor_services.h"
#include "probes/icmp_mode.h"

namespace sentrel {

// The monitoring engine: the host list with one worker per host, the
// `Pinging` switch, results, alarms and the log. The window and the headless
// runner drive it the same way. Every member is called on the window thread.
class Monitor final : public HostListObserver {
 public:
  explicit Monitor(MonitorServices services);
  // Ends every worker (Shutdown). Never hangs, also while workers wait in a
  // hand-off or an echo request.
  ~Monitor() override;
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  HostList& Hosts() { return hosts_; }
  const HostList& Hosts() const { return hosts_; }

  bool Pinging() const { return pinging_.load(); }
  // Starts or stops all checks: every ticked host's State and PrevState
  // restart at -1, its worker resumes or pauses; then the list is saved when
  // modified.
  void SetPinging(bool on);

  // Reads the host list from the options' data folder (start-up only). Hosts
  // that are enabled start checking at once when Pinging is already on.
  // Leaves Modified clear. Returns the number of hosts loaded.
  std::size_t LoadHosts();
  // Writes the list to the options' data folder when it is modified.
  SaveResult SaveHosts();

  // "Ping now": one immediate check of the host in `row` on this thread,
  // with a probe of its own, whatever its worker is doing. Blocks for up to
  // Retries requests of TimeOut ms each. `beforeRequest` runs before each
  // request (the window keeps itself alive there); when it deleted the
  // host, the check ends.
  void PingNow(std::size_t row, const std::function<void()>& beforeRequest = {});
  // "Trace now": traces the route to the host in `row` (its name, or its
  // address when it has none) with its trace settings, writes the header and
  // hop lines to the log and returns them. `onLine` sees each line as it
  // comes (the window keeps itself alive there). While a trace runs, a second
  // one is refused and returns nothing. The host may be deleted from within
  // `onLine`.
  std::string TraceNow(std::size_t row,
                       const std::function<void(const std::string&)>& onLine = {});

  // The status-message timer's tick: sends the status message when `now`
  // is one of its slots.
  void CheckStatusReport(DateTime now);

  // Ends every worker: all are told to stop first, then each is waited for,
  // so it takes about as long as the slowest request in flight. Idempotent;
  // afterwards no host is checked again. Results arriving meanwhile are
  // dropped.
  void Shutdown();

  // HostListObserver: the list's operations reach the workers through these.
  void ApplySettings(HostEntry& host) override;
  void EnabledChanged(HostEntry& host) override;
  void SaveNow() override;

 private:
  // Gives a host its probes and its paused worker when it has none yet.
  void Attach(HostEntry& host);

  MonitorServices services_;
  std::atomic<bool> pinging_{false};
  // The echo context of the workers' probes (they give up when ended).
  IcmpContext workerIcmp_;
  bool shutDown_ = false;
  bool tracing_ = false;
  // Last, so that every worker has ended before anything above goes.
  HostList hosts_;
};

// The text that "Trace now" writes to the log for a trace to `target` with
// the trace settings of `settings`: the header line "=== Trace <target> ==="
// and one line per hop ("<hop>. <rtt>ms <name> [<dotted>]" or
// "<hop>. <rtt>ms <dotted>"), each ending in CR LF. `onLine`, when set, sees
// each line as it comes. Blocks for the whole trace.
std::string TraceNowText(const HostEntry& settings, const std::string& target,
                         const IcmpContext& icmp,
                         const std::function<void(const std::string&)>& onLine = {});

}  // namespace sentrel
