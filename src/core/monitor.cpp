#include "core/monitor.h"

#include <filesystem>
#include <ctime>
#include <memory>
#include <utility>

#include "core/alarm.h"
#include "core/echo_result.h"
#include "core/host_states.h"
#include "core/host_worker.h"
#include "core/status_report.h"
#include "core/worker_icmp.h"
#include "platform/atomic_file.h"
#include "notify/notify_target.h"
#include "probes/ping_probe.h"
#include "probes/trace_probe.h"

namespace sentrel {

namespace {

constexpr const char* kStatusTitle = "Sentrel Status";

EchoHandler ResultHandlerOf(HostEntry& host, const MonitorServices& services) {
  HostEntry* h = &host;
  const MonitorServices* s = &services;
  return [h, s](EchoProbe&, uint32_t status, const IpAddress& address, uint32_t rtt,
                const EchoDetail& detail, const std::string& tag) {
    OnEchoResult(*h, *s, status, address, rtt, tag, detail);
  };
}

bool RawMode(IcmpMode mode) {
  return mode == IcmpMode::RawOnly || mode == IcmpMode::RawAndLibrary ||
         mode == IcmpMode::RawNoLibrary;
}

}  // namespace

namespace {

MonitorServices WithAlarmTally(MonitorServices services) {
  if (!services.alarms) services.alarms = std::make_shared<AlarmTally>();
  return services;
}

}  // namespace

Monitor::Monitor(MonitorServices services)
    : services_(WithAlarmTally(std::move(services))),
      workerIcmp_(WorkerIcmpContext(services_.icmp, services_.ui)),
      manual_(services_.ui),
      holds_(hosts_, services_, LibraryAnswerCheck(workerIcmp_),
             [this](const std::function<bool(const HostEntry&)>& which) { CheckAtOnce(which); }),
      hosts_(services_.clock, this) {
  services_.holds = &holds_;
  holds_.SetUplinkHosts(services_.options.UplinkHosts);
}

void Monitor::SetUplinkHosts(const std::string& hosts) { holds_.SetUplinkHosts(hosts); }

void Monitor::CheckAtOnce(const std::function<bool(const HostEntry&)>& which) {
  for (std::size_t row = 0; row < hosts_.Count(); ++row) {
    HostEntry& host = hosts_.Host(row);
    if (host.Worker && which(host)) host.Worker->CheckNow();
  }
}

Monitor::~Monitor() {
  Shutdown();
  services_.alarms->engineGone = true;
  hosts_.Clear();
}

bool Monitor::AlarmsInFlight() const { return services_.alarms->inFlight.load() > 0; }

void Monitor::StartLeftBehindAlarms() {
  std::vector<std::function<void()>> alarms;
  {
    std::lock_guard lock(services_.alarms->mutex);
    alarms.swap(services_.alarms->leftBehind);
  }
  for (const auto& alarm : alarms) alarm();
}

void Monitor::SetPinging(bool on) {
  pinging_ = on;
  for (std::size_t row = 0; row < hosts_.Count(); ++row) {
    HostEntry& host = hosts_.Host(row);
    if (!host.Enabled) continue;
    // The first result afterwards counts as a change of state.
    host.State = -1;
    host.PrevState = -1;
    host.LossHeldBy.Set({});
    if (!host.Worker || shutDown_) continue;
    if (on) {
      host.Worker->Resume();
    } else {
      host.Worker->Pause();
    }
  }
  if (hosts_.Modified()) SaveHosts();
}

HostFileLoad Monitor::LoadHosts() {
  HostFileLoad result = sentrel::LoadHosts(hosts_, services_.options.PathToData);
  hosts_.SetModified(false);
  return result;
}

SaveResult Monitor::SaveHosts() {
  return sentrel::SaveHosts(hosts_, services_.options.PathToData, services_.desktop);
}

void Monitor::PingNow(std::size_t row) {
  if (row >= hosts_.Count() || manual_.Busy()) return;
  HostEntry& host = hosts_.Host(row);
  const bool raw = RawMode(services_.icmp.mode);
  // Library requests block: their probe uses the workers' context, so that
  // leaving the program cuts a request in flight short.
  auto probe = std::make_unique<PingProbe>(raw ? services_.icmp : workerIcmp_);
  probe->dataSize = 64;
  probe->ttl = 255;
  probe->timeout = host.TimeOut;
  probe->targetText = host.HostIP.Get();
  probe->family = AddressFamilyOf(host.IPFamily);
  probe->tag = host.HostName.Get();
  probe->OnEcho = ResultHandlerOf(host, services_);
  if (raw) {
    // A raw request only sends; its reply comes through the notifier after
    // Run has returned, so the probe must live until then, and not longer
    // than its host.
    probe->Run();
    host.ManualProbe = std::move(probe);
    return;
  }
  manualHost_ = &host;
  manual_.Run([&host, &probe](std::stop_token stop) {
    const WorkerStopScope scope(stop);
    do {
      probe->Run();
    } while (!stop.stop_requested() && host.FailCount != 0 && host.FailCount < host.Retries);
    host.FailCount = 0;
  });
  manualHost_ = nullptr;
}

void Monitor::Removing(HostEntry& host) {
  if (&host != manualHost_) return;
  // The manual ping still writes to this host: end it first. Its hand-offs
  // give up, so it cannot wait for this thread.
  manual_.Abort();
  manual_.WaitForJob();
}

void Monitor::Leave() {
  services_.alarms->leaving = true;
  if (manual_.Closed()) return;
  // The log closes soon: a trace cut short keeps what it had found.
  if (tracing_) services_.log.WriteToFile(traceShown_);
  manual_.Close();
  manual_.WaitForJob();
  StartLeftBehindAlarms();
}

std::string Monitor::TraceNow(std::size_t row,
                              const std::function<void(const std::string&)>& onLine) {
  if (row >= hosts_.Count() || manual_.Busy()) return {};
  const HostEntry& host = hosts_.Host(row);
  // The host is not touched once the trace runs: it may be deleted meanwhile.
  const TraceSettings settings = TraceSettingsOf(host);
  const std::string target = TraceTarget(host);
  std::stop_source finish;
  {
    std::lock_guard lock(traceMutex_);
    traceFinish_ = finish;
  }
  tracing_ = true;
  traceShown_.clear();
  EventLog& log = services_.log;
  UiThread& ui = services_.ui;
  std::string text;
  manual_.Run([&](std::stop_token stop) {
    const WorkerStopScope scope(stop);
    const IcmpContext icmp = FinishableIcmpContext(workerIcmp_, finish.get_token());
    text = TraceNowText(settings, target, icmp, [&](const std::string& line) {
      CallOnUiThread(
          ui,
          [this, &log, &onLine, line] {
            traceShown_ += line;
            log.ShowInPane(line);
            if (onLine) onLine(line);
          },
          stop);
    });
  });
  tracing_ = false;
  // Leaving the program wrote what the trace had shown already.
  if (!manual_.Closed()) log.WriteToFile(text);
  return text;
}

void Monitor::StopTrace() {
  std::lock_guard lock(traceMutex_);
  traceFinish_.request_stop();
}

void Monitor::PublishStates() {
  const std::string& folder = services_.options.PathToData;
  if (folder.empty() || shutDown_) return;
  std::string text = FormatHostStates(hosts_);
  const std::string path = StateFilePath(folder);
  if (path == statesPath_ && text == statesText_) return;
  std::string error;
  // Only a view for --list: a folder that cannot take it costs nothing else.
  if (!WriteFileAtomically(path, text, "", &error)) return;
  std::error_code ignored;
  if (!statesPath_.empty() && statesPath_ != path) std::filesystem::remove(statesPath_, ignored);
  statesPath_ = path;
  statesText_ = std::move(text);
}

void Monitor::CheckStatusReport(DateTime now) {
  const ROptions& o = services_.options;
  if (!StatusReportDue({o.SendEvery, o.DayOfMonth, o.DaysOfWeek, o.Times}, now)) return;
  if (o.SendVia != 0) {
    services_.channels.StartMail(o.StatAddress, o.StatusBody, kStatusTitle, {});
  } else {
    services_.channels.SendNetMessage(o.StatAddress, o.StatusBody, kStatusTitle);
  }
  if (const auto targets = SplitTargetNames(o.StatusTargets); !targets.empty()) {
    TargetEvent event;
    event.event = "status";
    event.status = o.StatusBody;
    event.time = IsoUtcTime(static_cast<long long>(std::time(nullptr)));
    event.subject = kStatusTitle;
    event.text = o.StatusBody;
    services_.channels.NotifyTargets(targets, event);
  }
}

void Monitor::Shutdown() {
  shutDown_ = true;
  std::error_code ignored;
  if (!statesPath_.empty()) std::filesystem::remove(statesPath_, ignored);
  statesPath_.clear();
  // An alarm that a worker has not yet handed on still goes out.
  services_.alarms->leaving = true;
  // Every worker is told first, so that the waits overlap: the whole stop
  // takes as long as the slowest request in flight, not the sum of them.
  for (std::size_t row = 0; row < hosts_.Count(); ++row) {
    if (auto& worker = hosts_.Host(row).Worker) worker->RequestEnd();
  }
  for (std::size_t row = 0; row < hosts_.Count(); ++row) {
    if (auto& worker = hosts_.Host(row).Worker) worker->Join();
  }
  StartLeftBehindAlarms();
}

void Monitor::Attach(HostEntry& host) {
  if (!host.Engine) {
    host.Engine = std::make_unique<PingProbe>(workerIcmp_);
    host.Engine->OnEcho = ResultHandlerOf(host, services_);
  }
  if (!host.Worker && !shutDown_) {
    HostEntry* h = &host;
    host.Worker = std::make_unique<HostWorker>(
        host, services_.clock, pinging_, services_.timing,
        [h](std::stop_token stop) { RunScheduledCheck(*h, *h->Engine, stop); });
  }
}

void Monitor::ApplySettings(HostEntry& host) {
  Attach(host);
  if (!host.Worker) return;
  // The worker hands the new settings to its probe before its next check;
  // a check in progress finishes with the old ones.
  host.Worker->Pause();
  if (host.Enabled && pinging_ && !shutDown_) host.Worker->Resume();
}

void Monitor::EnabledChanged(HostEntry& host) {
  if (!pinging_ || !host.Worker || shutDown_) return;
  if (host.Enabled) {
    host.Worker->Resume();
  } else {
    host.Worker->Pause();
  }
}

void Monitor::SaveNow() { SaveHosts(); }

TraceSettings TraceSettingsOf(const HostEntry& host) {
  return {host.TraceBufferSize, host.TraceTimeOut, host.TraceTTL, AddressFamilyOf(host.IPFamily)};
}

std::string TraceNowText(const TraceSettings& settings, const std::string& target,
                         const IcmpContext& icmp,
                         const std::function<void(const std::string&)>& onLine) {
  TraceProbe probe(icmp);
  probe.dataSize = settings.dataSize;
  probe.timeout = settings.timeout;
  probe.ttl = settings.ttl;
  probe.targetText = target;
  probe.family = settings.family;
  std::string text = TraceHeader(target);
  if (onLine) onLine(text);
  probe.OnHop = [&text, &onLine](TraceProbe&, int32_t hop, const IpAddress& address,
                                 uint32_t rtt) {
    const std::string line = HopLine(hop, address, rtt);
    text += line;
    if (onLine) onLine(line);
  };
  probe.Run();
  return text;
}

}  // namespace sentrel
