#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/date_time.h"
#include "common/sync_string.h"
#include "core/degradation.h"
#include "core/echo_counters.h"
#include "core/schedule.h"

namespace sentrel {

class HostWorker;
class PingProbe;

// Every field of a host may be read by one thread while another writes it:
// the window thread edits settings while the host's worker runs a check, and
// the worker writes results that the window thread shows once a second. So
// numbers and flags are atomics and strings are replaced whole (SyncString);
// a reader sees the old or the new value, never a torn one. Read-modify-write
// sequences across several fields are not atomic as a whole.

inline constexpr const char* kDefaultHostIP = "127.0.0.1";
inline constexpr int32_t kDefaultLightTimes[4] = {1250, 1666, 2500, 5000};

// A text field that the data file held in a legacy 8-bit code page: the
// bytes read and the UTF-8 text they were decoded to.
struct LegacyText {
  std::string bytes;
  std::string decoded;
};

// The actions of one direction of a state change: OnRenewal (the host answers
// again) or OnLoss (it stops answering).
struct AlarmSet {
  std::atomic<bool> Alarm{false};  // master switch of this direction
  std::atomic<bool> ShowBox{false};
  std::atomic<bool> PlayWAV{false};
  SyncString WAVFile;
  std::atomic<bool> SendLan{false};
  SyncString LanName;
  std::atomic<bool> SendEmail{false};
  SyncString EmailAddress;
  std::atomic<int32_t> RepeatCount{1};  // results in the new state before the alarm fires
  std::atomic<bool> RunPrg{false};
  SyncString ProgramName;
  SyncString Params;
  std::atomic<int32_t> RepeatCounter{0};  // run-time, never stored
  // Stored for the loss side only; the renewal side lives in memory.
  std::atomic<bool> RunTraceRoute{false};
  SyncString Subject;  // empty: "Sentrel Message!!!"
  SyncString MesBody;  // empty: the host's status line
  // Names of the notification targets told of this alarm, comma-separated.
  SyncString Targets;
};

// Copies every setting of an alarm set, RunTraceRoute included; the run-time
// RepeatCounter stays as it is.
void CopyAlarmSettings(const AlarmSet& from, AlarmSet& to);

// One monitored host: the stored settings (in the order of the data file's
// tags), the two alarm sets and the run-time figures of its checks.
// Not copyable: a host is one row and later owns its active objects.
struct HostEntry {
  HostEntry();
  // ReleaseActiveObjects.
  ~HostEntry();
  // Ends the worker first (it uses everything else), then releases the
  // probes. What remains is plain data that any thread may let go of.
  void ReleaseActiveObjects();
  HostEntry(const HostEntry&) = delete;
  HostEntry& operator=(const HostEntry&) = delete;

  // Stored settings.
  std::atomic<bool> Enabled{false};  // mirrors the row's check box
  SyncString HostIP{kDefaultHostIP};
  SyncString HostName;
  SyncString HostDesc;
  std::atomic<int32_t> CheckEvery{kCheckAlways};
  std::atomic<int32_t> DayOfMonth{0};
  std::atomic<int32_t> DaysOfWeek{0};
  std::atomic<uint64_t> Times{0};
  std::atomic<int32_t> PingInterval{60};  // seconds
  std::atomic<int32_t> Retries{1};
  std::atomic<int32_t> TimeOut{5000};  // ms
  std::atomic<int32_t> PTTL{255};
  std::atomic<int32_t> PTOS{0};
  std::atomic<int32_t> PBS{64};             // bytes
  std::atomic<int32_t> TraceTimeOut{5000};  // ms
  std::atomic<uint8_t> TraceBufferSize{60};
  std::atomic<uint8_t> TraceTTL{60};
  std::atomic<int32_t> MaxNumHops{100};
  std::array<std::atomic<int32_t>, 4> LightTimes{kDefaultLightTimes[0], kDefaultLightTimes[1],
                                                 kDefaultLightTimes[2], kDefaultLightTimes[3]};
  std::atomic<bool> PingByIP{true};
  // The family HostName resolves to: 0 automatic (IPv4 first), 4 or 6.
  std::atomic<int32_t> IPFamily{0};
  std::atomic<bool> UseAsDefault{false};
  // The host this one is reached through: that host's address (its name for
  // a host pinged by name); empty for none. While it is down, this host's
  // loss alarm waits (see AlarmHolds).
  SyncString Parent;
  AlarmSet OnRenewal;
  AlarmSet OnLoss;
  // Degraded service: thresholds of the average reply time (ms) and of the
  // loss (per cent), 0 = off, over the latest DegradedChecks echo requests,
  // and the notification targets told (names, comma-separated).
  std::atomic<int32_t> DegradedLatency{0};
  std::atomic<int32_t> DegradedLoss{0};
  std::atomic<int32_t> DegradedChecks{kDefaultDegradationChecks};
  SyncString DegradedTargets;
  // The legacy 8-bit fields of the data file, by tag: each is written back
  // as the bytes it was read from while it still holds their decoded text.
  // Filled while the host is read, before anyone else sees it.
  std::map<std::string, LegacyText, std::less<>> LegacyTexts;

  // Run-time figures, never stored.
  std::atomic<bool> WasChecked{false};
  std::atomic<int32_t> LastRtt{0};
  std::atomic<int32_t> FailCount{0};
  std::atomic<int32_t> LastReplyTime{0};
  std::atomic<int32_t> AvgTime{0};
  std::atomic<int32_t> ReplyCount{0};
  std::atomic<int32_t> PrevState{-1};
  std::atomic<int32_t> State{-1};
  SyncString StatusStr;
  SyncString TraceText;
  // Why this host's loss alarm is held ("<parent> is down", or the uplink);
  // empty while it is not. The row then shows "Unreachable".
  SyncString LossHeldBy;
  std::atomic<DateTime> NextCheck{0};
  std::atomic<DateTime> LastCheck{0};
  EchoCounters Counters;
  // Whether the judge last called the host degraded; it keeps that through
  // an outage, which shows as the outage (see IsDegradedNow).
  std::atomic<bool> Degraded{false};
  // Results reach the judge from the worker and from "Ping now".
  std::mutex JudgeMutex;
  DegradationJudge Judge;

  // The host's active objects, destroyed with it (an alarm trace makes a
  // probe of its own for as long as it runs). The monitoring engine
  // creates them when the host joins its list; a host that is only being
  // edited (or read by the command line) has none.
  std::unique_ptr<PingProbe> Engine;
  // "Ping now"'s probe, kept after the command only while a raw-socket reply
  // may still arrive for it.
  std::unique_ptr<PingProbe> ManualProbe;
  std::unique_ptr<HostWorker> Worker;
};

// The four light thresholds as they stand now.
std::array<int32_t, 4> LightTimesOf(const HostEntry& host);

// The degradation limits as they stand now.
DegradationLimits DegradationLimitsOf(const HostEntry& host);

// Degraded and answering: a host that is down is not degraded.
bool IsDegradedNow(const HostEntry& host);

// The schedule fields of a host, as one value.
Schedule ScheduleOf(const HostEntry& host);

// NextCheckTime of the host's current schedule.
DateTime NextCheckTime(const HostEntry& host, DateTime now);

// Copies the settings of the default host into a new one: every stored setting
// and both alarm sets, except Enabled, HostIP, HostName, HostDesc and
// UseAsDefault. Run-time figures are not touched.
void CopyDefaults(const HostEntry& from, HostEntry& to);

// The texts of a host's list row: caption HostIP, column 1 HostName, columns
// 2 and 3 "_" (the list refresh fills in the times later), column 4 HostDesc.
std::array<std::string, 5> HostRowTexts(const HostEntry& host);

}  // namespace sentrel
