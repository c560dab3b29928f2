#include "settings/options.h"

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "common/lenient_int.h"
#include "common/text.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "settings/text_model.h"

namespace sentrel {

namespace {

constexpr uint64_t kSlotBits = (uint64_t{1} << 48) - 1;

// One entry per field, in declaration order; the store and the load walk the
// same list so that no field can be saved and then forgotten.
template <typename Options, typename Visitor>
void VisitFields(Options& o, Visitor&& visit) {
  visit("MinToTray", o.MinToTray);
  visit("Language", o.Language);
  visit("PathToData", o.PathToData);
  visit("MultPlayWAV", o.MultPlayWAV);
  visit("PathToLog", o.PathToLog);
  visit("LogDetail", o.LogDetail);
  visit("LogSize", o.LogSize);
  visit("DeleteLog2Recycle", o.DeleteLog2Recycle);
  visit("ServerName", o.ServerName);
  visit("Port", o.Port);
  visit("From", o.From);
  visit("AutoRun", o.AutoRun);
  visit("DialUp", o.DialUp);
  visit("AutoConnect", o.AutoConnect);
  visit("Disconnect", o.Disconnect);
  visit("Connection", o.Connection);
  visit("Login", o.Login);
  visit("Password", o.Password);
  visit("SMTPUsername", o.SMTPUsername);
  visit("SMTPPassword", o.SMTPPassword);
  visit("SMTPSecurity", o.SMTPSecurity);
  visit("SMTPCAFile", o.SMTPCAFile);
  visit("StatusBody", o.StatusBody);
  visit("SendVia", o.SendVia);
  visit("StatAddress", o.StatAddress);
  visit("SendEvery", o.SendEvery);
  visit("DayOfMonth", o.DayOfMonth);
  visit("DaysOfWeek", o.DaysOfWeek);
  visit("Times", o.Times);
  visit("StatusTargets", o.StatusTargets);
  visit("MetricsListen", o.MetricsListen);
  visit("NetMessageCodePage", o.NetMessageCodePage);
  visit("UplinkHosts", o.UplinkHosts);
}

std::string ToText(bool value) { return value ? "1" : "0"; }
std::string ToText(const std::string& value) { return value; }
std::string ToText(int32_t value) { return std::to_string(value); }
std::string ToText(const RelaxedAtomic<int32_t>& value) { return std::to_string(value.Load()); }
std::string ToText(uint64_t value) { return std::to_string(value); }

void FromText(const std::string& text, bool& field) { field = ParseLenientInt(text) != 0; }
// Paths are handed to the file system and passwords to peers exactly as
// stored; every other text is read by the one rule for outside text.
bool KeptAsBytes(std::string_view name) {
  return name == "PathToData" || name == "PathToLog" || name == "Password" ||
         name == "SMTPPassword" || name == "SMTPCAFile";
}

void FromText(const std::string& text, std::string& field) { field = text; }

void FromText(const std::string& text, int32_t& field) { field = ParseLenientInt(text); }
void FromText(const std::string& text, RelaxedAtomic<int32_t>& field) {
  field = ParseLenientInt(text);
}
void FromText(const std::string& text, uint64_t& field) {
  // The slot set has 48 bits; anything above them names no time of day.
  field = static_cast<uint64_t>(ParseLenientInt64(text)) & kSlotBits;
}

// Paths may be stored expandable ("%USERPROFILE%\\Logs"), as deployment
// tools write them.
bool IsPath(std::string_view name) { return name == "PathToData" || name == "PathToLog"; }

// A stored option as text. Numbers may be stored as 32-bit numbers as well
// as text, as a person or a deployment tool writes them.
std::optional<std::string> StoredOption(const Registry& registry, std::string_view name) {
  auto value = registry.GetValue(kOptionsKey, name);
  if (!value) return std::nullopt;
  if (value->type == kRegDword && value->data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<uint8_t>(value->data[i]);
    return std::to_string(static_cast<int32_t>(number));
  }
  if (value->type == kRegExpandString && IsPath(name)) return ExpandEnvironmentNames(value->data);
  if (value->type == kRegString || value->type == kRegExpandString) return std::move(value->data);
  return std::nullopt;
}

// Stores an option in the type it is stored in: a number stored as a
// 32-bit number stays one, an expandable path stays expandable. An
// unchanged value is left as stored, so an expandable path keeps its names.
void StoreOption(Registry& registry, std::string_view name, const std::string& text) {
  if (StoredOption(registry, name) == text) return;
  const auto stored = registry.GetValue(kOptionsKey, name);
  const int64_t wide = ParseLenientInt64(text);
  if (stored && stored->type == kRegDword && wide >= INT32_MIN && wide <= UINT32_MAX) {
    const auto number = static_cast<uint32_t>(wide);
    std::string data(4, '\0');
    for (int i = 0; i < 4; ++i) data[i] = static_cast<char>(number >> (8 * i) & 0xFF);
    registry.SetValue(kOptionsKey, name, kRegDword, data);
  } else if (stored && stored->type == kRegExpandString) {
    registry.SetValue(kOptionsKey, name, kRegExpandString, text);
  } else {
    registry.SetString(kOptionsKey, name, text);
  }
}

// One code page for every legacy text of the store: the program that wrote
// them wrote them all in one, and a guess per value would read one name in
// Cyrillic and the next in Western letters.
int OptionsCodePage(const Registry& registry) {
  std::vector<std::string> texts;
  for (const std::string& name : registry.ValueNames(kOptionsKey)) {
    if (KeptAsBytes(name)) continue;
    if (auto text = StoredOption(registry, name)) texts.push_back(std::move(*text));
  }
  return CommonCodePage(texts);
}

std::string ReadField(const std::string& stored, std::string_view name, int codePage) {
  return KeptAsBytes(name) ? stored : DecodeOutsideText(stored, codePage);
}

// Whether the stored text reads as `field` (a flag stored as "5" is still true).
template <typename Field>
bool StoredEquals(const std::string& stored, std::string_view name, int codePage,
                  const Field& field) {
  if constexpr (std::is_same_v<Field, std::string>) {
    return ReadField(stored, name, codePage) == field;
  } else if constexpr (std::is_same_v<Field, RelaxedAtomic<int32_t>>) {
    return ParseLenientInt(stored) == field.Load();
  } else {
    Field read{};
    FromText(stored, read);
    return read == field;
  }
}

}  // namespace

void SetDefaultOptions(ROptions& options) {
  options = ROptions{};
  options.PathToData = GetDataFolder();
  options.PathToLog = options.PathToData;
}

void LoadOptions(ROptions& options, const Registry& registry) {
  SetDefaultOptions(options);
  const int codePage = OptionsCodePage(registry);
  // Options stored before encryption existed went out in the clear, and
  // their server may not speak TLS: they keep doing so until changed.
  if (!registry.ValueNames(kOptionsKey).empty()) options.SMTPSecurity = 0;
  VisitFields(options, [&](const char* name, auto& field) {
    const auto text = StoredOption(registry, name);
    if (!text) return;
    if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>) {
      return FromText(ReadField(*text, name, codePage), field);
    }
    FromText(*text, field);
  });
}

bool SaveOptions(const ROptions& options, Registry& registry, std::string* error) {
  const int codePage = OptionsCodePage(registry);
  VisitFields(options, [&](const char* name, const auto& field) {
    // A legacy text that still reads as the field keeps its bytes: only what
    // changed is written back, and as UTF-8.
    const auto stored = StoredOption(registry, name);
    if (stored && StoredEquals(*stored, name, codePage, field)) return;
    StoreOption(registry, name, ToText(field));
  });
  return registry.Save(error);
}

std::string NormalizeServerName(std::string_view typed) { return RemoveBlanks(typed); }

std::string NormalizeDataFolder(std::string_view typed) { return TrimBlanks(typed); }

int32_t ParseOptionNumber(std::string_view typed) { return ParseLenientInt(typed); }

bool LoadPinging(const Registry& registry) {
  return registry.GetString(kMainFormKey, "isPinging") == std::optional<std::string>("1");
}

void SavePinging(bool pinging, Registry& registry) {
  // The state at exit, written whatever the file says meanwhile.
  registry.SetString(kMainFormKey, "isPinging", pinging ? "1" : "0", RegistryWrite::kAlways);
}

}  // namespace sentrel
