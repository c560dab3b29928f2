#include "gui/dialogs/host_form_rules.h"

#include <algorithm>

#include "common/lenient_int.h"
#include "common/text.h"
#include "core/host_entry.h"
#include "core/host_parents.h"
#include "core/schedule.h"
#include "notify/notify_target.h"
#include "platform/mailslot.h"
#include "probes/address.h"
#include "settings/ini_file.h"
#include "settings/language_table.h"

namespace sentrel {

namespace {

constexpr int32_t kAllDays = 0x7F;
constexpr std::size_t kMaxComputerName = 260;

AlarmSettings ReadAlarm(const AlarmSet& set) {
  AlarmSettings a;
  a.Alarm = set.Alarm;
  a.ShowBox = set.ShowBox;
  a.PlayWAV = set.PlayWAV;
  a.WAVFile = set.WAVFile.Get();
  a.SendLan = set.SendLan;
  a.LanName = set.LanName.Get();
  a.SendEmail = set.SendEmail;
  a.EmailAddress = set.EmailAddress.Get();
  a.RepeatCount = set.RepeatCount;
  a.RunPrg = set.RunPrg;
  a.ProgramName = set.ProgramName.Get();
  a.Params = set.Params.Get();
  a.RunTraceRoute = set.RunTraceRoute;
  a.Subject = set.Subject.Get();
  a.MesBody = set.MesBody.Get();
  a.Targets = set.Targets.Get();
  return a;
}

template <typename T, typename V>
void Store(std::atomic<T>& field, V value) {
  if (field.load() != static_cast<T>(value)) field = static_cast<T>(value);
}

void Store(SyncString& field, const std::string& value) {
  if (field.Get() != value) field.Set(value);
}

void WriteAlarm(const AlarmSettings& a, AlarmSet& set) {
  Store(set.Alarm, a.Alarm);
  Store(set.ShowBox, a.ShowBox);
  Store(set.PlayWAV, a.PlayWAV);
  Store(set.WAVFile, a.WAVFile);
  Store(set.SendLan, a.SendLan);
  Store(set.LanName, a.LanName);
  Store(set.SendEmail, a.SendEmail);
  Store(set.EmailAddress, a.EmailAddress);
  Store(set.RepeatCount, a.RepeatCount);
  Store(set.RunPrg, a.RunPrg);
  Store(set.ProgramName, a.ProgramName);
  Store(set.Params, a.Params);
  Store(set.RunTraceRoute, a.RunTraceRoute);
  Store(set.Subject, a.Subject);
  Store(set.MesBody, a.MesBody);
  Store(set.Targets, a.Targets);
}

AlarmFormValues AlarmValuesOf(const AlarmSettings& a, std::string_view subjectPlaceholder) {
  AlarmFormValues v;
  v.alarm = a.Alarm;
  v.repeatCount = std::to_string(a.RepeatCount);
  v.showBox = a.ShowBox;
  v.playWav = a.PlayWAV;
  v.wavFile = a.WAVFile;
  v.sendLan = a.SendLan;
  v.lanName = a.LanName;
  v.sendEmail = a.SendEmail;
  v.emailAddress = a.EmailAddress;
  v.runPrg = a.RunPrg;
  v.programName = a.ProgramName;
  v.params = a.Params;
  v.runTraceRoute = a.RunTraceRoute;
  v.subject = a.Subject.empty() ? std::string(subjectPlaceholder) : a.Subject;
  v.body = a.MesBody.empty() ? std::string(kBodyPlaceholder) : a.MesBody;
  v.targets = SplitTargetNames(a.Targets);
  return v;
}

AlarmSettings AlarmFromValues(const AlarmFormValues& v, std::string_view subjectPlaceholder) {
  AlarmSettings a;
  a.Alarm = v.alarm;
  a.RepeatCount = ParseLenientInt(v.repeatCount);
  a.ShowBox = v.showBox;
  a.PlayWAV = v.playWav;
  a.WAVFile = v.wavFile;
  a.SendLan = v.sendLan;
  a.LanName = v.lanName;
  a.SendEmail = v.sendEmail;
  a.EmailAddress = v.emailAddress;
  a.RunPrg = v.runPrg;
  a.ProgramName = v.programName;
  a.Params = v.params;
  a.RunTraceRoute = v.runTraceRoute;
  if (v.subject != subjectPlaceholder) a.Subject = v.subject;
  if (v.body != kBodyPlaceholder) a.MesBody = v.body;
  a.Targets = JoinTargetNames(v.targets);
  return a;
}

std::string Decimal(int32_t value) { return std::to_string(value); }

// The lenient integer of a field whose blanks and control characters are
// cut from both ends first.
int32_t ParseTrimmedField(std::string_view text) { return ParseLenientInt(TrimBlanks(text)); }

// An optional sign, then digits up to the first other character; beyond
// every 32-bit bound the value stays where it is.
int64_t SaturatingNumber(std::string_view text) {
  constexpr int64_t kBeyond = int64_t{1} << 32;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min(value * 10 + (text[i] - '0'), kBeyond);
  }
  return negative ? -value : value;
}

}  // namespace

std::vector<std::string> NotifyItems(const std::vector<std::string>& stored,
                                     const std::vector<std::string>& named) {
  std::vector<std::string> items;
  for (const auto* list : {&stored, &named}) {
    for (const std::string& name : *list) {
      const bool known = std::any_of(items.begin(), items.end(), [&](const std::string& item) {
        return EqualsIgnoringCase(item, name);
      });
      if (!known) items.push_back(name);
    }
  }
  return items;
}

HostSettings ReadHostSettings(const HostEntry& host) {
  HostSettings s;
  s.HostIP = host.HostIP.Get();
  s.HostName = host.HostName.Get();
  s.HostDesc = host.HostDesc.Get();
  s.CheckEvery = host.CheckEvery;
  s.DayOfMonth = host.DayOfMonth;
  s.DaysOfWeek = host.DaysOfWeek;
  s.Times = host.Times;
  s.PingInterval = host.PingInterval;
  s.Retries = host.Retries;
  s.TimeOut = host.TimeOut;
  s.PTTL = host.PTTL;
  s.PTOS = host.PTOS;
  s.PBS = host.PBS;
  s.TraceTimeOut = host.TraceTimeOut;
  s.TraceBufferSize = host.TraceBufferSize;
  s.TraceTTL = host.TraceTTL;
  s.MaxNumHops = host.MaxNumHops;
  for (std::size_t i = 0; i < s.LightTimes.size(); ++i) s.LightTimes[i] = host.LightTimes[i];
  s.PingByIP = host.PingByIP;
  s.IPFamily = host.IPFamily;
  s.UseAsDefault = host.UseAsDefault;
  s.Parent = host.Parent.Get();
  s.OnRenewal = ReadAlarm(host.OnRenewal);
  s.OnLoss = ReadAlarm(host.OnLoss);
  s.DegradedLatency = host.DegradedLatency;
  s.DegradedLoss = host.DegradedLoss;
  s.DegradedChecks = host.DegradedChecks;
  s.DegradedTargets = host.DegradedTargets.Get();
  return s;
}

void WriteHostSettings(const HostSettings& s, HostEntry& host) {
  Store(host.HostIP, s.HostIP);
  Store(host.HostName, s.HostName);
  Store(host.HostDesc, s.HostDesc);
  Store(host.CheckEvery, s.CheckEvery);
  Store(host.DayOfMonth, s.DayOfMonth);
  Store(host.DaysOfWeek, s.DaysOfWeek);
  Store(host.Times, s.Times);
  Store(host.PingInterval, s.PingInterval);
  Store(host.Retries, s.Retries);
  Store(host.TimeOut, s.TimeOut);
  Store(host.PTTL, s.PTTL);
  Store(host.PTOS, s.PTOS);
  Store(host.PBS, s.PBS);
  Store(host.TraceTimeOut, s.TraceTimeOut);
  Store(host.TraceBufferSize, s.TraceBufferSize);
  Store(host.TraceTTL, s.TraceTTL);
  Store(host.MaxNumHops, s.MaxNumHops);
  for (std::size_t i = 0; i < s.LightTimes.size(); ++i) Store(host.LightTimes[i], s.LightTimes[i]);
  Store(host.PingByIP, s.PingByIP);
  Store(host.IPFamily, s.IPFamily);
  Store(host.UseAsDefault, s.UseAsDefault);
  Store(host.Parent, s.Parent);
  WriteAlarm(s.OnRenewal, host.OnRenewal);
  WriteAlarm(s.OnLoss, host.OnLoss);
  Store(host.DegradedLatency, s.DegradedLatency);
  Store(host.DegradedLoss, s.DegradedLoss);
  Store(host.DegradedChecks, s.DegradedChecks);
  Store(host.DegradedTargets, s.DegradedTargets);
}

std::vector<ParentChoice> ParentChoicesFor(const HostSnapshot& hosts, const HostEntry& host) {
  std::vector<ParentChoice> choices;
  for (const auto& other : hosts) {
    if (other.get() == &host) continue;
    const std::string key = ParentKey(*other);
    if (key.empty() || !ParentLoopError(hosts, host, key).empty()) continue;
    const std::string name = other->HostName.Get();
    const std::string address = other->HostIP.Get();
    choices.push_back({name.empty() || name == key ? key : name + " (" + address + ")", key});
  }
  return choices;
}

std::string HostFormText(const IniFile* language, std::string_view key) {
  return CaptionText(language, kHostFormSection, key);
}

HostFormValues FormValuesOf(const HostSettings& s) {
  return FormValuesOf(s, FindCaption(kHostFormSection, "DefaultSubject")->text);
}

HostFormValues FormValuesOf(const HostSettings& s, std::string_view subjectPlaceholder) {
  HostFormValues v;
  v.hostIP = s.HostIP;
  v.hostName = s.HostName;
  v.hostDesc = s.HostDesc;
  v.retries = Decimal(s.Retries);
  v.timeOut = Decimal(s.TimeOut);
  v.pbs = Decimal(s.PBS);
  v.pttl = Decimal(s.PTTL);
  v.ptos = Decimal(s.PTOS);
  v.pingByAddress = s.PingByIP;
  v.addressFamily = AddressFamilyItem(s.IPFamily);
  v.traceTimeOut = Decimal(s.TraceTimeOut);
  v.traceBufferSize = Decimal(s.TraceBufferSize);
  v.traceTTL = Decimal(s.TraceTTL);
  v.maxNumHops = Decimal(s.MaxNumHops);
  v.useAsDefault = s.UseAsDefault;
  v.parent = s.Parent;
  v.checkEvery = s.CheckEvery;
  v.dayOfMonth = Decimal(s.DayOfMonth);
  v.daysOfWeek = s.DaysOfWeek & kAllDays;
  v.times = s.Times & kSlotMask;
  v.pingInterval = Decimal(s.PingInterval);
  v.renewal = AlarmValuesOf(s.OnRenewal, subjectPlaceholder);
  v.loss = AlarmValuesOf(s.OnLoss, subjectPlaceholder);
  for (std::size_t i = 0; i < v.lightTimes.size(); ++i) v.lightTimes[i] = Decimal(s.LightTimes[i]);
  v.degradedLatency = Decimal(s.DegradedLatency);
  v.degradedLoss = Decimal(s.DegradedLoss);
  v.degradedChecks = Decimal(s.DegradedChecks);
  v.degradedTargets = SplitTargetNames(s.DegradedTargets);
  return v;
}

HostSettings SettingsFromForm(const HostFormValues& v) {
  return SettingsFromForm(v, FindCaption(kHostFormSection, "DefaultSubject")->text);
}

HostSettings SettingsFromForm(const HostFormValues& v, std::string_view subjectPlaceholder) {
  HostSettings s;
  s.HostIP = v.hostIP;
  s.HostName = v.hostName;
  s.HostDesc = v.hostDesc;
  s.CheckEvery = v.checkEvery;
  s.DayOfMonth = ParseLenientInt(v.dayOfMonth);
  s.DaysOfWeek = v.daysOfWeek & kAllDays;
  s.Times = v.times & kSlotMask;
  s.PingInterval = ParseTrimmedField(v.pingInterval);
  s.Retries = ParseTrimmedField(v.retries);
  s.TimeOut = ParseTrimmedField(v.timeOut);
  s.PTTL = ParseTrimmedField(v.pttl);
  s.PTOS = ParseTrimmedField(v.ptos);
  s.PBS = ParseTrimmedField(v.pbs);
  s.TraceTimeOut = ParseTrimmedField(v.traceTimeOut);
  // The byte-sized fields keep the low byte, as the stored byte always did;
  // the checks while typing keep them within 1..255 anyway.
  s.TraceBufferSize = static_cast<uint8_t>(ParseTrimmedField(v.traceBufferSize));
  s.TraceTTL = static_cast<uint8_t>(ParseTrimmedField(v.traceTTL));
  s.MaxNumHops = ParseTrimmedField(v.maxNumHops);
  for (std::size_t i = 0; i < s.LightTimes.size(); ++i) {
    s.LightTimes[i] = ParseLenientInt(v.lightTimes[i]);
  }
  s.PingByIP = v.pingByAddress;
  s.IPFamily = AddressFamilyOfItem(v.addressFamily);
  s.UseAsDefault = v.useAsDefault;
  s.Parent = v.parent;
  s.OnRenewal = AlarmFromValues(v.renewal, subjectPlaceholder);
  s.OnLoss = AlarmFromValues(v.loss, subjectPlaceholder);
  s.DegradedLatency = ParseTrimmedField(v.degradedLatency);
  s.DegradedLoss = ParseTrimmedField(v.degradedLoss);
  s.DegradedChecks = ParseTrimmedField(v.degradedChecks);
  s.DegradedTargets = JoinTargetNames(v.degradedTargets);
  return s;
}

std::string OkCheckReport(const HostFormValues& v, const IniFile* language) {
  std::string report;
  const auto fail = [&report, language](std::string_view key) {
    report += HostFormText(language, key);
    report += "\r\n";
  };
  // Only what can be checked is accepted: a host pinged by name needs a
  // name that a lookup can take, or an address written out.
  if (v.pingByAddress && CheckHostAddress(v.hostIP).kind != HostAddressKind::Address)
    fail("IncorrectIP");
  if (!v.pingByAddress && CheckHostAddress(v.hostName).kind == HostAddressKind::Refused)
    fail("IncorrectHostName");

  std::array<int32_t, 4> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = ParseLenientInt(v.lightTimes[i]);
  // Every non-zero threshold must lie above the one before it; a zero one
  // is not compared with the row below it.
  if ((t[3] != 0 && t[2] >= t[3]) || (t[2] != 0 && t[1] >= t[2]) || (t[1] != 0 && t[0] >= t[1]))
    fail("CheckLight");

  switch (v.checkEvery) {
    case kCheckAlways:
      if (ParseTrimmedField(v.pingInterval) <= 0) fail("IncorrectInterval");
      break;
    case kCheckEveryMonth: {
      const int32_t day = ParseLenientInt(v.dayOfMonth);
      if (day <= 0 || day >= 32) fail("IncorrectDay");
      break;
    }
    case kCheckEveryWeek:
      if ((v.daysOfWeek & kAllDays) == 0) fail("SetDayOfWeek");
      break;
    default:
      break;
  }
  if (v.checkEvery != kCheckAlways && (v.times & kSlotMask) == 0) fail("SetTime");
  const DegradationLimits degradation{ParseTrimmedField(v.degradedLatency),
                                      ParseTrimmedField(v.degradedLoss),
                                      ParseTrimmedField(v.degradedChecks)};
  if (!DegradationLimitsValid(degradation)) fail("IncorrectDegradation");
  return report;
}

std::string ErrorBoxText(std::string_view message, const IniFile* language) {
  return HostFormText(language, "ErrorLead") + std::string(message);
}

std::optional<std::string> KeptWithin(std::string_view text, int32_t low, int32_t high) {
  const int64_t value = SaturatingNumber(text);
  if (value < low) return std::to_string(low);
  if (value > high) return std::to_string(high);
  return std::nullopt;
}

std::optional<std::string> RepeatCountFix(std::string_view text) {
  // "00" is as much a zero as "0": a count of 0 would never raise the alarm.
  if (text.empty() || ParseLenientInt(text) == 0) return "1";
  return std::nullopt;
}

bool ThresholdTooHigh(std::string_view threshold, std::string_view pingTimeOut) {
  return ParseLenientInt(threshold) >= ParseLenientInt(pingTimeOut);
}

ScheduleEnabling ScheduleEnablingFor(int32_t checkEvery) {
  ScheduleEnabling e;
  e.pingInterval = checkEvery == kCheckAlways;
  e.dayOfMonth = checkEvery == kCheckEveryMonth;
  e.daysOfWeek = checkEvery == kCheckEveryWeek;
  e.times = checkEvery != kCheckAlways;
  return e;
}

AlarmEnabling AlarmEnablingFor(const AlarmFormValues& page) {
  AlarmEnabling e;
  e.options = page.alarm;
  e.wav = page.alarm && page.playWav;
  e.lan = page.alarm && page.sendLan;
  e.email = page.alarm && page.sendEmail;
  e.program = page.alarm && page.runPrg;
  return e;
}

int32_t HelpContextOfPage(int page) {
  static constexpr std::array<int32_t, 7> kContexts{80, 90, 100, 110, 120, 125, 127};
  if (page < 0 || page >= static_cast<int>(kContexts.size())) return 0;
  return kContexts[static_cast<std::size_t>(page)];
}

std::optional<std::string> MailTestRefusal(int32_t port, std::string_view address,
                                           const IniFile* language) {
  if (port <= 0) return HostFormText(language, "BadSmtpPort");
  if (address.empty()) return HostFormText(language, "BadToAddress");
  return std::nullopt;
}

int AddressFamilyItem(int32_t family) {
  switch (AddressFamilyOf(family)) {
    case AddressFamily::IPv4:
      return 1;
    case AddressFamily::IPv6:
      return 2;
    default:
      return 0;
  }
}

int32_t AddressFamilyOfItem(int item) {
  static constexpr std::array<int32_t, 3> kFamilies{0, 4, 6};
  return item > 0 && item < 3 ? kFamilies[static_cast<std::size_t>(item)] : 0;
}

AddressLookups SystemLookups() {
  return {ParseAddress, ResolveAddress, AddressToName, LocalComputerName};
}

std::optional<std::string> LookUpHostName(const std::string& hostIP, const AddressLookups& lookups) {
  const IpAddress address = lookups.parse(hostIP).value_or(NoAddress());
  const std::string name = lookups.nameOf(address);
  // The reverse lookup answers with the address text when it finds no name.
  if (name.empty() || name == AddressText(address)) return std::nullopt;
  return name;
}

std::optional<std::string> LookUpHostAddress(const std::string& hostName, AddressFamily family,
                                             const AddressLookups& lookups) {
  std::string name = hostName;
  if (name.empty()) name = lookups.localName().substr(0, kMaxComputerName);
  const IpAddress address = lookups.resolve(name, family);
  if (IsNoAddress(address)) return std::nullopt;
  return AddressText(address);
}

std::string ChooserStart(std::string_view fieldText, const std::string& programFolder) {
  std::string start = TrimBlanks(fieldText);
  return start.empty() ? programFolder : start;
}

std::string WithLfBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string WithCrLfBreaks(std::string_view text) {
  std::string out;
  bool first = true;
  for (std::string_view line : SplitAtLineBreaks(text)) {
    if (!first) out += "\r\n";
    first = false;
    out += line;
  }
  return out;
}

}  // namespace sentrel
