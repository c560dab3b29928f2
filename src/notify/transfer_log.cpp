#include "notify/transfer_log.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/append_line.h"
#include "platform/paths.h"

namespace sentrel {

void TransferLog::Append(std::string_view line) const {
  if (Enabled()) AppendLine(path_, line);
}

std::string TransferLogPath(const std::string& pathToLog, const std::string& programFolder) {
  std::error_code ec;
  if (!pathToLog.empty() && std::filesystem::is_directory(pathToLog, ec)) {
    return JoinPath(pathToLog, kTransferLogName);
  }
  return JoinPath(programFolder, kTransferLogName);
}

std::string FormatLocalDateTime(DateTime value) {
  const CivilDateTime c = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_wday = DayOfWeek(value);
  tm.tm_isdst = -1;
  char text[128] = {};
  if (std::strftime(text, sizeof text, "%x %X", &tm) == 0) return {};
  return text;
}

}  // namespace sentrel
