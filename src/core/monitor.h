#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>

#include "core/alarm_holds.h"
#include "core/data_file.h"
#include "core/host_list.h"
#include "core/job_lane.h"
#include "core/monitor_services.h"
#include "probes/address.h"
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
  // Leaves Modified clear. Returns the number of hosts loaded, or why the
  // file could not be read (then nothing is ever saved over it).
  HostFileLoad LoadHosts();
  // Writes the list to the options' data folder when it is modified.
  SaveResult SaveHosts();

  // "Ping now": one immediate check of the host in `row` with a probe of its
  // own, whatever its worker is doing: up to Retries requests of TimeOut ms
  // each, on a helper thread while the window thread keeps serving its loop
  // (raw-socket replies come through the notifier anyway). Refused while a
  // manual ping or trace runs. The host may be deleted meanwhile.
  void PingNow(std::size_t row);
  // "Trace now": traces the route to the host in `row` (its name, or its
  // address when it has none) with its trace settings on a helper thread.
  // The header and each hop line reach the log pane as they come, and
  // `onLine` on the window thread; at the end the whole text goes to the log
  // file as one block and is returned. Refused (returns nothing) while a
  // manual ping or trace runs. The host may be deleted meanwhile.
  std::string TraceNow(std::size_t row,
                       const std::function<void(const std::string&)>& onLine = {});
  // Whether a "Trace now" is running.
  bool Tracing() const { return tracing_; }
  // Ends a running "Trace now" after the request in flight. Any thread.
  void StopTrace();
  // The program is leaving: alarms due from now on go out without waiting
  // for their trace, and a manual ping or trace in progress is cut short
  // (waited for, so that the hosts may go right after; a trace's lines so
  // far go to the log file) and no new one starts. Idempotent.
  void Leave();

  // The UplinkHosts option: comma-separated addresses or names, none of
  // which answering holds every loss alarm. Empty: no uplink.
  void SetUplinkHosts(const std::string& hosts);

  // Writes the hosts' states beside the host list when one has changed
  // (see host_states.h); Shutdown removes the file. Called once a second.
  void PublishStates();

  // The status-message timer's tick: sends the status message when `now`
  // is one of its slots.
  void CheckStatusReport(DateTime now);

  // Ends every worker: all are told to stop first, then each is waited for,
  // so it takes about as long as the slowest request in flight. Idempotent;
  // afterwards no host is checked again. Results arriving meanwhile are
  // dropped; an alarm that was due (also one whose trace this cut short)
  // is started here without its trace, to finish before the channels close.
  void Shutdown();
  // Whether an alarm is still running its actions (or waits to start them).
  bool AlarmsInFlight() const;

  // HostListObserver: the list's operations reach the workers through these.
  void ApplySettings(HostEntry& host) override;
  void EnabledChanged(HostEntry& host) override;
  void SaveNow() override;
  void Removing(HostEntry& host) override;

 private:
  // Starts the alarms that workers ended by leaving could not hand on.
  void StartLeftBehindAlarms();
  // Gives a host its probes and its paused worker when it has none yet.
  void Attach(HostEntry& host);
  // The held hosts' immediate checks.
  void CheckAtOnce(const std::function<bool(const HostEntry&)>& which);

  MonitorServices services_;
  std::atomic<bool> pinging_{false};
  // The echo context of the workers' probes (they give up when ended).
  IcmpContext workerIcmp_;
  bool shutDown_ = false;
  bool tracing_ = false;
  // "Ping now" and "Trace now", one at a time.
  JobLane manual_;
  HostEntry* manualHost_ = nullptr;  // the host a manual ping is checking
  std::mutex traceMutex_;
  std::stop_source traceFinish_;  // of the trace in progress
  std::string traceShown_;        // its lines in the pane so far
  AlarmHolds holds_;
  std::string statesPath_;  // where PublishStates last wrote
  std::string statesText_;  // and what
  // Last, so that every worker has ended before anything above goes.
  HostList hosts_;
};

// How long leaving the program gives the alarms still on their way (one
// whose trace was cut short, one whose mail is in flight) before the
// channels close and abort what is left.
inline constexpr std::chrono::milliseconds kLeaveAlarmGrace{700};

// The trace settings of a host, read once before a trace starts.
struct TraceSettings {
  uint8_t dataSize = 60;
  int32_t timeout = 5000;  // ms
  uint8_t ttl = 60;
  AddressFamily family = AddressFamily::Automatic;
};
TraceSettings TraceSettingsOf(const HostEntry& host);

// The text that "Trace now" writes to the log for a trace to `target` with
// `settings`: the header line "=== Trace <target> ===" and one line per hop
// ("<hop>. <rtt>ms <name> [<dotted>]" or "<hop>. <rtt>ms <dotted>"), each
// ending in CR LF. `onLine`, when set, sees each line as it comes. Blocks
// for the whole trace.
std::string TraceNowText(const TraceSettings& settings, const std::string& target,
                         const IcmpContext& icmp,
                         const std::function<void(const std::string&)>& onLine = {});

}  // namespace sentrel
