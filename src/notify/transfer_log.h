#pragma once

#include <string>
#include <string_view>

#include "common/date_time.h"

namespace sentrel {

// The mail transfer log, smtp.log. Off (an empty path) unless the program
// was started with the switch "sl". Every line is appended on its own, the
// file opened and closed each time, so the log survives a crash mid-transfer;
// a file that cannot be opened is skipped silently. A new file is readable by
// its user alone: it holds the server conversation and the user name.
class TransferLog {
 public:
  TransferLog() = default;
  explicit TransferLog(std::string path) : path_(std::move(path)) {}

  bool Enabled() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  // Appends `line` and CR LF when the log is on.
  void Append(std::string_view line) const;

 private:
  std::string path_;
};

inline constexpr const char* kTransferLogName = "smtp.log";

// Where smtp.log goes: the log folder `pathToLog` when it exists, else the
// program's own folder.
std::string TransferLogPath(const std::string& pathToLog, const std::string& programFolder);

// `value` in the user's short date and long time formats ("%x %X" under the
// process locale), as the log lines show it.
std::string FormatLocalDateTime(DateTime value);

}  // namespace sentrel
