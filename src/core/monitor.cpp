#include "core/monitor.h"

#include <memory>
#include <utility>

#include "core/alarm.h"
#include "core/echo_result.h"
#include "core/host_worker.h"
#include "core/status_report.h"
#include "core/worker_icmp.h"
#include "probes/ping_probe.h"
#include "probes/trace_probe.h"

namespace sentrel {

namespace {

constexpr const char* kStatusTitle = "Sentrel Status";

EchoHandler ResultHandlerOf(HostEntry& host, const MonitorServices& services) {
  HostEntry* h = &host;
  const MonitorServices* s = &services;
  return [h, s](EchoProbe&, uint32_t status, const IpAddress& address, uint32_t rtt,
                const std::string& tag) {
    OnEchoResult(*h, *s, status, address, rtt, tag);
  };
}

bool RawMode(IcmpMode mode) {
  return mode == IcmpMode::RawOnly || mode == IcmpMode::RawAndLibrary ||
         mode == IcmpMode::RawNoLibrary;
}

}  // namespace

Monitor::Monitor(MonitorServices services)
    : services_(std::move(services)),
      workerIcmp_(WorkerIcmpContext(services_.icmp, services_.ui)),
      hosts_(services_.clock, this) {}

Monitor::~Monitor() {
  Shutdown();
  hosts_.Clear();
}

void Monitor::SetPinging(bool on) {
  pinging_ = on;
  for (std::size_t row = 0; row < hosts_.Count(); ++row) {
    HostEntry& host = hosts_.Host(row);
    if (!host.Enabled) continue;
    // The first result afterwards counts as a change of state.
    host.State = -1;
    host.PrevState = -1;
    if (!host.Worker || shutDown_) continue;
    if (on) {
      host.Worker->Resume();
    } else {
      host.Worker->Pause();
    }
  }
  if (hosts_.Modified()) SaveHosts();
}

std::size_t Monitor::LoadHosts() {
  const std::size_t count = sentrel::LoadHosts(hosts_, services_.options.PathToData);
  hosts_.SetModified(false);
  return count;
}

SaveResult Monitor::SaveHosts() {
  return sentrel::SaveHosts(hosts_, services_.options.PathToData, services_.desktop);
}

void Monitor::PingNow(std::size_t row, const std::function<void()>& beforeRequest) {
  if (row >= hosts_.Count()) return;
  HostEntry& host = hosts_.Host(row);
  auto probe = std::make_unique<PingProbe>(services_.icmp);
  probe->dataSize = 64;
  probe->ttl = 255;
  probe->timeout = host.TimeOut;
  probe->targetText = host.HostIP.Get();
  probe->family = AddressFamilyOf(host.IPFamily);
  probe->tag = host.HostName.Get();
  probe->OnEcho = ResultHandlerOf(host, services_);
  do {
    if (beforeRequest) {
      beforeRequest();
      if (!hosts_.Contains(host)) return;
    }
    probe->Run();
  } while (host.FailCount != 0 && host.FailCount < host.Retries);
  host.FailCount = 0;
  // A raw-socket reply comes after Run has returned: the probe must live
  // until then, and not longer than its host.
  if (RawMode(services_.icmp.mode)) host.ManualProbe = std::move(probe);
}

std::string Monitor::TraceNow(std::size_t row,
                              const std::function<void(const std::string&)>& onLine) {
  if (row >= hosts_.Count() || tracing_) return {};
  const HostEntry& host = hosts_.Host(row);
  tracing_ = true;
  // The host is not touched once the trace runs: `onLine` may delete it.
  std::string text = TraceNowText(host, TraceTarget(host), services_.icmp, onLine);
  tracing_ = false;
  services_.log.Write(text);
  return text;
}

void Monitor::CheckStatusReport(DateTime now) {
  const ROptions& o = services_.options;
  if (!StatusReportDue({o.SendEvery, o.DayOfMonth, o.DaysOfWeek, o.Times}, now)) return;
  if (o.SendVia != 0) {
    services_.channels.SendMail(o.StatAddress, o.StatusBody, kStatusTitle);
  } else {
    services_.channels.SendNetMessage(o.StatAddress, o.StatusBody, kStatusTitle);
  }
}

void Monitor::Shutdown() {
  shutDown_ = true;
  // Every worker is told first, so that the waits overlap: the whole stop
  // takes as long as the slowest request in flight, not the sum of them.
  for (std::size_t row = 0; row < hosts_.Count(); ++row) {
    if (auto& worker = hosts_.Host(row).Worker) worker->RequestEnd();
  }
  for (std::size_t row = 0; row < hosts_.Count(); ++row) {
    if (auto& worker = hosts_.Host(row).Worker) worker->Join();
  }
}

void Monitor::Attach(HostEntry& host) {
  if (!host.Engine) {
    host.Engine = std::make_unique<PingProbe>(workerIcmp_);
    host.Engine->OnEcho = ResultHandlerOf(host, services_);
  }
  if (!host.Tracer) host.Tracer = std::make_unique<TraceProbe>(workerIcmp_);
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

std::string TraceNowText(const HostEntry& settings, const std::string& target,
                         const IcmpContext& icmp,
                         const std::function<void(const std::string&)>& onLine) {
  TraceProbe probe(icmp);
  probe.dataSize = settings.TraceBufferSize;
  probe.timeout = settings.TraceTimeOut;
  probe.ttl = settings.TraceTTL;
  probe.targetText = target;
  probe.family = AddressFamilyOf(settings.IPFamily);
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
