#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/relaxed_atomic.h"

namespace sentrel {

class Registry;

// The main window's key. Its "isPinging", whether checks ran when the
// program last ended, is shared by the window and the headless runner.
inline constexpr std::string_view kMainFormKey = "SOFTWARE\\Sentrel\\MainForm";
// True only for "isPinging" exactly "1".
bool LoadPinging(const Registry& registry);
void SavePinging(bool pinging, Registry& registry);

// The program-wide settings. One record lives from start to exit; only a
// confirmed options dialog changes it, on the window thread. Readers take
// the fields directly. `LogDetail` is also read by the host workers, so it
// is the one field safe to read from another thread.
struct ROptions {
  bool MinToTray = false;
  std::string Language = "English";
  std::string PathToData;  // default: GetDataFolder()
  bool MultPlayWAV = false;
  std::string PathToLog;  // default: GetDataFolder()
  RelaxedAtomic<int32_t> LogDetail = 1;  // 0 none, 1 state changes, 2 all events
  int32_t LogSize = 2;                   // megabytes
  bool DeleteLog2Recycle = false;
  std::string ServerName;
  int32_t Port = 25;
  std::string From = "sentrel@localhost";
  bool AutoRun = false;
  bool DialUp = false;
  bool AutoConnect = true;
  bool Disconnect = false;
  std::string Connection;
  std::string Login;
  std::string Password;
  std::string SMTPUsername;
  std::string SMTPPassword;
  // 0 none, 1 STARTTLS when the server offers it, 2 STARTTLS required,
  // 3 TLS from the first byte. A fresh installation starts at 1; options
  // stored before the value existed load as 0, so they send as they did.
  int32_t SMTPSecurity = 1;
  // A PEM file of certificates trusted besides the system's; empty for none.
  std::string SMTPCAFile;
  std::string StatusBody = "OK";
  int32_t SendVia = 0;     // 0 messenger, 1 e-mail
  std::string StatAddress;
  int32_t SendEvery = 0;   // 0 Month, 1 Week, 2 Day, 3 Never
  int32_t DayOfMonth = 1;
  int32_t DaysOfWeek = 1;  // bit 0 Sunday .. bit 6 Saturday
  uint64_t Times = 0;      // bit i = half-hour slot i (0..47)
  // Notification targets that also receive the status message, comma-separated.
  std::string StatusTargets;
  // Where the metrics endpoint listens, "ADDRESS:PORT"; empty = no endpoint.
  std::string MetricsListen;
  // The OEM code page that this site's messenger receivers read (one of
  // kReceiverCodePages); 0 = chosen per message by what covers its text.
  int32_t NetMessageCodePage = 0;
  // Addresses or names of the hosts through which this computer reaches
  // the others, comma-separated; when none answers, loss alarms are held.
  std::string UplinkHosts;

  friend bool operator==(const ROptions&, const ROptions&) = default;
};

// The registry key that holds the options, one string value per field named
// as the field.
inline constexpr std::string_view kOptionsKey = "SOFTWARE\\Sentrel\\Options";

// Sets every field to its default; the data and log folders to GetDataFolder().
void SetDefaultOptions(ROptions& options);

// Sets the defaults, then reads every stored value over them. A missing or
// non-string value keeps its default, except that SMTPSecurity is 0 (no
// encryption) when other options are stored without it. Booleans are "0"/"1" (any non-zero
// number is true), numbers are read with the lenient parser, `Times` as an
// unsigned decimal of which only the 48 slot bits are kept.
void LoadOptions(ROptions& options, const Registry& registry);

// Stores every field under kOptionsKey and saves the registry file. Returns
// false (with `error`) when the file could not be written; the values stay
// in the registry object either way.
bool SaveOptions(const ROptions& options, Registry& registry, std::string* error = nullptr);

// Normalisation of what the options dialog hands over.
std::string NormalizeServerName(std::string_view typed);  // every blank removed
std::string NormalizeDataFolder(std::string_view typed);  // blanks trimmed at both ends
int32_t ParseOptionNumber(std::string_view typed);        // the lenient parser

}  // namespace sentrel
