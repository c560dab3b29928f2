#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/date_time.h"

namespace sentrel {

// What the operator asked for on the command line.
struct CliCommand {
  enum class Kind {
    Window, Headless, Help, List, Add, Remove, Enable, Disable, Trace, History, HistoryCsv
  };
  Kind kind = Kind::Window;
  bool ping = false;         // --ping: start checks whatever was stored
  std::string address;       // --add ADDRESS, --trace HOST; --history HOST not on the list
  std::string name;          // --name
  std::string desc;          // --desc
  int32_t interval = 0;      // --interval SECONDS; 0 = keep the seeded value
  bool hasInterval = false;
  int row = 0;               // --remove/--enable/--disable/--history ROW, 1-based
  // --since DATE of --history and --history-csv, as a local date-time.
  std::optional<DateTime> since;
  std::string error;         // non-empty: a one-line reason; exit code 2
};

// Parses the arguments after the program name. The mail transfer-log switch
// (/sl or -sl) may stand anywhere and is not an error here; it is read
// separately. Exactly one command may be given.
CliCommand ParseCliCommand(const std::vector<std::string>& args);

// The text of --help.
std::string CliUsage();

}  // namespace sentrel
