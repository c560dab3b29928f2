#include "notify/transfer_log.h"

#include <filesystem>
#include <system_error>

#include "platform/append_line.h"
#include "platform/paths.h"

namespace sentrel {

void TransferLog::Append(std::string_view line) const {
  if (Enabled()) AppendLine(path_, line, kPrivateFileMode);
}

std::string TransferLogPath(const std::string& pathToLog, const std::string& programFolder) {
  std::error_code ec;
  if (!pathToLog.empty() && std::filesystem::is_directory(pathToLog, ec)) {
    return JoinPath(pathToLog, kTransferLogName);
  }
  return JoinPath(programFolder, kTransferLogName);
}

std::string FormatLocalDateTime(DateTime value) { return FormatDateTime(value, "%x %X"); }

}  // namespace sentrel
