#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <vector>

#include "core/host_entry.h"
#include "core/host_list.h"
#include "probes/address.h"
#include "probes/host_address.h"

namespace sentrel {

class IniFile;

// The rules of the host properties dialog, apart from its widgets: what the
// controls show for a host, how their texts become settings again, which
// controls are enabled, and the checks while typing and on "Ok".

// What an empty MesBody is shown as; left in place it stores an empty body
// again. An empty Subject shows the language's "DefaultSubject" the same way.
inline constexpr std::string_view kBodyPlaceholder = "%StatusStr%";

// The texts of the test buttons' messages, which go out as they are.
inline constexpr std::string_view kTestBody = "Test message from Sentrel!";
inline constexpr std::string_view kLanTestSubject = "Lan Test";
inline constexpr std::string_view kMailTestSubject = "Sentrel Test Message";

// The dialog's text for `key` of the HostForm section: the language file's
// (`language` may be null), else the built-in English one.
std::string HostFormText(const IniFile* language, std::string_view key);

// The stored settings of one alarm direction, as plain values.
struct AlarmSettings {
  bool Alarm = false;
  bool ShowBox = false;
  bool PlayWAV = false;
  std::string WAVFile;
  bool SendLan = false;
  std::string LanName;
  bool SendEmail = false;
  std::string EmailAddress;
  int32_t RepeatCount = 1;
  bool RunPrg = false;
  std::string ProgramName;
  std::string Params;
  bool RunTraceRoute = false;
  std::string Subject;
  std::string MesBody;
  std::string Targets;  // notification target names, comma-separated

  friend bool operator==(const AlarmSettings&, const AlarmSettings&) = default;
};

// Every setting that the dialog edits (all stored settings but Enabled), as a
// plain copy that belongs to the dialog alone until it is written back.
struct HostSettings {
  std::string HostIP = kDefaultHostIP;
  std::string HostName;
  std::string HostDesc;
  int32_t CheckEvery = 0;
  int32_t DayOfMonth = 0;
  int32_t DaysOfWeek = 0;
  uint64_t Times = 0;
  int32_t PingInterval = 60;
  int32_t Retries = 1;
  int32_t TimeOut = 5000;
  int32_t PTTL = 255;
  int32_t PTOS = 0;
  int32_t PBS = 64;
  int32_t TraceTimeOut = 5000;
  uint8_t TraceBufferSize = 60;
  uint8_t TraceTTL = 60;
  int32_t MaxNumHops = 100;
  std::array<int32_t, 4> LightTimes{kDefaultLightTimes[0], kDefaultLightTimes[1],
                                    kDefaultLightTimes[2], kDefaultLightTimes[3]};
  bool PingByIP = true;
  int32_t IPFamily = 0;
  bool UseAsDefault = false;
  std::string Parent;
  AlarmSettings OnRenewal;
  AlarmSettings OnLoss;
  int32_t DegradedLatency = 0;
  int32_t DegradedLoss = 0;
  int32_t DegradedChecks = kDefaultDegradationChecks;
  std::string DegradedTargets;

  friend bool operator==(const HostSettings&, const HostSettings&) = default;
};

// One host that "Reached through:" offers: how it is shown and the key
// that names it (see host_parents.h).
struct ParentChoice {
  std::string label;
  std::string key;
  friend bool operator==(const ParentChoice&, const ParentChoice&) = default;
};

// The hosts `host` may be reached through: every other host of `hosts`
// that is not itself reached through `host` (that would make a loop), in
// row order, each shown as "name (address)" or its address alone.
std::vector<ParentChoice> ParentChoicesFor(const HostSnapshot& hosts, const HostEntry& host);

// A snapshot of the host's settings (each field read whole).
HostSettings ReadHostSettings(const HostEntry& host);

// Writes every setting into the live host, one whole value per field, in one
// run on the calling (window) thread. A worker checking the host meanwhile
// reads each field either before or after, never half-written. Only fields
// whose value differs are stored, so an unchanged field is never touched.
void WriteHostSettings(const HostSettings& settings, HostEntry& host);

// The texts and states of one alarm page's controls.
struct AlarmFormValues {
  bool alarm = false;
  std::string repeatCount;
  bool showBox = false;
  bool playWav = false;
  std::string wavFile;
  bool sendLan = false;
  std::string lanName;
  bool sendEmail = false;
  std::string emailAddress;
  bool runPrg = false;
  std::string programName;
  std::string params;
  bool runTraceRoute = false;
  std::string subject;  // on the template page
  std::string body;
  std::vector<std::string> targets;  // the ticked items of "Notify:"

  friend bool operator==(const AlarmFormValues&, const AlarmFormValues&) = default;
};

// The texts and states of every control of the dialog, page by page.
struct HostFormValues {
  // General
  std::string hostIP;
  std::string hostName;
  std::string hostDesc;
  std::string retries;
  std::string timeOut;
  std::string pbs;
  std::string pttl;
  std::string ptos;
  bool pingByAddress = true;
  int addressFamily = 0;  // "Address family:" item: automatic, IPv4, IPv6
  std::string traceTimeOut;
  std::string traceBufferSize;
  std::string traceTTL;
  std::string maxNumHops;
  bool useAsDefault = false;
  std::string parent;  // "Reached through:": the parent's key, empty for none
  // Schedule: checkEvery is the item index (a stored value outside 0..3
  // shows no item and is kept as it is).
  int32_t checkEvery = 0;
  std::string dayOfMonth;
  int32_t daysOfWeek = 0;  // the ticked boxes, bit 0 Sunday
  uint64_t times = 0;      // the ticked half-hours, bit i = item i
  std::string pingInterval;
  // On renewal, On loss and their templates
  AlarmFormValues renewal;
  AlarmFormValues loss;
  // Light
  std::array<std::string, 4> lightTimes;
  // Degradation
  std::string degradedLatency;
  std::string degradedLoss;
  std::string degradedChecks;
  std::vector<std::string> degradedTargets;  // the ticked items of its "Notify targets:"

  friend bool operator==(const HostFormValues&, const HostFormValues&) = default;
};

// The items of an alarm page's "Notify:" list: the stored targets, then the
// names the host still has that no longer name a target (so that nothing is
// dropped unseen), in that order without repeats (letter case ignored).
std::vector<std::string> NotifyItems(const std::vector<std::string>& stored,
                                     const std::vector<std::string>& named);

// Copy-in: strings as stored, numbers in decimal, the placeholders for an
// empty Subject (`subjectPlaceholder`, the language's) and MesBody.
HostFormValues FormValuesOf(const HostSettings& settings, std::string_view subjectPlaceholder);
HostFormValues FormValuesOf(const HostSettings& settings);

// Copy-back after a confirmed "Ok": strings as typed, the placeholders back
// to empty, numbers parsed leniently (the general page's numbers and the
// ping interval after blanks and control characters are cut from both
// ends). Bits beyond the seven days and the 48 half-hours are dropped.
HostSettings SettingsFromForm(const HostFormValues& values, std::string_view subjectPlaceholder);
HostSettings SettingsFromForm(const HostFormValues& values);

// The checks on "Ok", in their order: each failed check's message in the
// language of `language` (English without one) followed by CR LF. Empty
// when everything passed.
std::string OkCheckReport(const HostFormValues& values, const IniFile* language = nullptr);

// The text the error box shows for `message` (a check or the whole report).
std::string ErrorBoxText(std::string_view message, const IniFile* language = nullptr);

// Clamps, applied when the user leaves a field or confirms the dialog. Each
// returns the text that replaces the field's when the field breaks its rule
// (the caller beeps), nothing when it keeps it.
// A number field kept within low..high (the day of both dialogs, the trace
// route's byte fields): for a value outside, the nearer bound. The value is
// read as an optional sign and digits, an empty field counting as 0; it
// saturates instead of wrapping, so that a long pasted number stays too big.
std::optional<std::string> KeptWithin(std::string_view text, int32_t low, int32_t high);
// Count of repeats: an empty field or a value of 0 becomes "1".
std::optional<std::string> RepeatCountFix(std::string_view text);

// Checked while typing: true when a light threshold is not below the ping time-out (both read
// leniently, an empty field counting as 0).
bool ThresholdTooHigh(std::string_view threshold, std::string_view pingTimeOut);

// Which controls of the schedule page are enabled for a "Check every" item.
struct ScheduleEnabling {
  bool pingInterval = false;  // "Ping interval(sec):" and its field
  bool dayOfMonth = false;    // "Day:" and its field
  bool daysOfWeek = false;    // the seven day boxes
  bool times = false;         // "Time:" and the time list
};
ScheduleEnabling ScheduleEnablingFor(int32_t checkEvery);

// Which controls of an alarm page are enabled, from its check boxes.
struct AlarmEnabling {
  bool options = false;  // the count field, the six check boxes under the master
  bool wav = false;      // the WAV field, its "..." and "Test"
  bool lan = false;      // the computer field and its "Test"
  bool email = false;    // the e-mail field and its "Test"
  bool program = false;  // the program field, its "...", "Parameters:" and field
};
AlarmEnabling AlarmEnablingFor(const AlarmFormValues& page);

// The help context of each page, 0 for an index that is no page.
int32_t HelpContextOfPage(int page);

// The e-mail test's refusal, if any: a port not above 0, else an empty
// address.
std::optional<std::string> MailTestRefusal(int32_t port, std::string_view address,
                                           const IniFile* language = nullptr);

// The "Address family:" item of a stored family, and back.
int AddressFamilyItem(int32_t family);
int32_t AddressFamilyOfItem(int item);

// The name and address lookups, injectable for tests.
struct AddressLookups {
  std::function<std::optional<IpAddress>(const std::string&)> parse;  // written addresses
  std::function<IpAddress(const std::string&, AddressFamily)> resolve;  // host-by-name
  std::function<std::string(const IpAddress&)> nameOf;  // host-by-address, else the text
  std::function<std::string()> localName;               // this computer's name
};
// The lookups of the system resolver.
AddressLookups SystemLookups();

// ">> Name": the first name of the address in `hostIP`, IPv4 or IPv6 (an
// invalid text stands for the all-ones address); nothing when the reverse
// lookup fails.
std::optional<std::string> LookUpHostName(const std::string& hostIP, const AddressLookups& lookups);
// ">> IP": the first address of `hostName` in `family` as text (IPv4 first
// for automatic), or of this computer's own name (at most 260 characters)
// when it is empty; nothing on failure.
std::optional<std::string> LookUpHostAddress(const std::string& hostName, AddressFamily family,
                                             const AddressLookups& lookups);

// Where a file chooser starts: the field's text without blanks and control
// characters at either end, else the program's folder.
std::string ChooserStart(std::string_view fieldText, const std::string& programFolder);

// A multi-line text with CR LF, LF and bare CR breaks written with LF (for
// the editor) and back with CR LF (as the host stores it).
std::string WithLfBreaks(std::string_view text);
std::string WithCrLfBreaks(std::string_view text);

}  // namespace sentrel
