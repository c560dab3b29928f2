#include "core/host_entry.h"

#include "core/host_worker.h"
#include "probes/ping_probe.h"

namespace sentrel {

HostEntry::HostEntry() = default;

HostEntry::~HostEntry() { ReleaseActiveObjects(); }

void HostEntry::ReleaseActiveObjects() {
  Worker.reset();
  ManualProbe.reset();
  Engine.reset();
}

std::array<int32_t, 4> LightTimesOf(const HostEntry& host) {
  return {host.LightTimes[0].load(), host.LightTimes[1].load(), host.LightTimes[2].load(),
          host.LightTimes[3].load()};
}

void CopyAlarmSettings(const AlarmSet& from, AlarmSet& to) {
  to.Alarm = from.Alarm.load();
  to.ShowBox = from.ShowBox.load();
  to.PlayWAV = from.PlayWAV.load();
  to.WAVFile = from.WAVFile;
  to.SendLan = from.SendLan.load();
  to.LanName = from.LanName;
  to.SendEmail = from.SendEmail.load();
  to.EmailAddress = from.EmailAddress;
  to.RepeatCount = from.RepeatCount.load();
  to.RunPrg = from.RunPrg.load();
  to.ProgramName = from.ProgramName;
  to.Params = from.Params;
  to.RunTraceRoute = from.RunTraceRoute.load();
  to.Subject = from.Subject;
  to.MesBody = from.MesBody;
  to.Targets = from.Targets;
}

DegradationLimits DegradationLimitsOf(const HostEntry& host) {
  return {host.DegradedLatency.load(), host.DegradedLoss.load(), host.DegradedChecks.load()};
}

bool IsDegradedNow(const HostEntry& host) { return host.Degraded && host.State == 0; }

Schedule ScheduleOf(const HostEntry& host) {
  return {host.CheckEvery.load(), host.DayOfMonth.load(), host.DaysOfWeek.load(),
          host.Times.load()};
}

DateTime NextCheckTime(const HostEntry& host, DateTime now) {
  return NextCheckTime(ScheduleOf(host), now);
}

void CopyDefaults(const HostEntry& from, HostEntry& to) {
  to.CheckEvery = from.CheckEvery.load();
  to.DayOfMonth = from.DayOfMonth.load();
  to.DaysOfWeek = from.DaysOfWeek.load();
  to.Times = from.Times.load();
  to.PingInterval = from.PingInterval.load();
  to.Retries = from.Retries.load();
  to.TimeOut = from.TimeOut.load();
  to.PTTL = from.PTTL.load();
  to.PTOS = from.PTOS.load();
  to.PBS = from.PBS.load();
  to.TraceTimeOut = from.TraceTimeOut.load();
  to.TraceBufferSize = from.TraceBufferSize.load();
  to.TraceTTL = from.TraceTTL.load();
  to.MaxNumHops = from.MaxNumHops.load();
  for (std::size_t i = 0; i < to.LightTimes.size(); ++i) {
    to.LightTimes[i] = from.LightTimes[i].load();
  }
  to.PingByIP = from.PingByIP.load();
  to.IPFamily = from.IPFamily.load();
  to.DegradedLatency = from.DegradedLatency.load();
  to.DegradedLoss = from.DegradedLoss.load();
  to.DegradedChecks = from.DegradedChecks.load();
  to.DegradedTargets = from.DegradedTargets;
  // Hosts added at a site are usually reached through the same router.
  to.Parent = from.Parent;
  CopyAlarmSettings(from.OnRenewal, to.OnRenewal);
  CopyAlarmSettings(from.OnLoss, to.OnLoss);
}

std::array<std::string, 5> HostRowTexts(const HostEntry& host) {
  return {host.HostIP.Get(), host.HostName.Get(), "_", "_", host.HostDesc.Get()};
}

}  // namespace sentrel
