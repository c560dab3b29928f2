#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "settings/text_model.h"

namespace sentrel {

class HostList;

// What the operator asked for on the command line.
struct CliCommand {
  enum class Kind {
    Window, Headless, Help, List, Add, Remove, Enable, Disable, Trace, History, HistoryCsv,
    Targets, TargetAdd, TargetRemove, TargetTest, Import, Export, Discover, MailTest,
    InstallService, UninstallService, Service, SetParent, SetDegradation
  };
  Kind kind = Kind::Window;
  bool ping = false;         // --ping: start checks whatever was stored
  // --metrics ADDRESS:PORT ("" = no endpoint), also for the service
  std::optional<std::string> metrics;
  // --add ADDRESS, --trace HOST, --mail-test ADDRESS; --history HOST not on the list
  std::string address;
  std::string name;          // --name
  std::string desc;          // --desc
  int32_t interval = 0;      // --interval SECONDS; 0 = keep the seeded value
  bool hasInterval = false;
  // --parent of --add, the second value of --set-parent: an address or name
  // of a listed host, its row, or "-" for none.
  std::string parent;
  bool hasParent = false;
  int row = 0;  // --remove/--enable/--disable/--set-parent/--set-degradation/--history ROW, 1-based
  // --degraded-latency MS, --degraded-loss PERCENT, --degraded-checks N and
  // --degraded-notify NAMES, with --add or --set-degradation; unset ones
  // stay as they are.
  std::optional<int32_t> degradedLatency;
  std::optional<int32_t> degradedLoss;
  std::optional<int32_t> degradedChecks;
  std::optional<std::string> degradedTargets;
  // --since DATE of --history and --history-csv, as a local date-time.
  std::optional<DateTime> since;
  // --target-add NAME KIND URL [KEY=VALUE ...], --target-remove NAME,
  // --target-test NAME: the words after the command, in order.
  std::vector<std::string> targetArgs;
  std::string file;          // --import FILE, --export FILE
  std::string range;         // --discover RANGE
  bool addFound = false;     // --discover RANGE --add
  std::string error;         // non-empty: a one-line reason; exit code 2
};

// Parses the arguments after the program name. The mail transfer-log switch
// (/sl or -sl) may stand anywhere and is not an error here; it is read
// separately. Exactly one command may be given. Text values (names,
// descriptions, hosts) are decoded from the terminal's code page.
CliCommand ParseCliCommand(const std::vector<std::string>& args,
                           int terminalCodePage = kUtf8CodePage);

// The text of --help.
std::string CliUsage();

// Says "sentrel: MESSAGE" on `err` and gives back `code`, the exit code.
int RefuseCommand(std::FILE* err, const std::string& message, int code);

// The index in `list` of the command's 1-based row. Without such a row the
// refusal is said on `err` and `code` becomes 2.
std::optional<std::size_t> ListRowOf(const CliCommand& command, const HostList& list,
                                     std::FILE* err, int& code);

}  // namespace sentrel
