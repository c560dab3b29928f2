#include "platform/process_usage.h"

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace sentrel {

namespace {

// Seconds since 1970 at which the system booted ("btime" of /proc/stat).
std::optional<double> BootTime() {
  std::ifstream stat("/proc/stat");
  for (std::string line; std::getline(stat, line);) {
    if (line.rfind("btime ", 0) == 0) return std::stod(line.substr(6));
  }
  return std::nullopt;
}

}  // namespace

ProcessUsage ReadProcessUsage() {
  ProcessUsage usage;
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  std::ifstream statFile("/proc/self/stat");
  std::string stat;
  std::getline(statFile, stat);  // one line
  // The command name may hold blanks and parentheses: fields follow the last ")".
  if (const std::size_t close = stat.rfind(')'); close != std::string::npos && ticks > 0) {
    std::istringstream rest(stat.substr(close + 2));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;) fields.push_back(field);
    // fields[0] is the state, the 3rd field of the line.
    auto field = [&fields](std::size_t number) { return std::stoull(fields.at(number - 3)); };
    try {
      usage.cpuSeconds = static_cast<double>(field(14) + field(15)) / ticks;
      usage.threads = field(20);
      if (const auto boot = BootTime()) usage.startTimeSeconds = *boot + static_cast<double>(field(22)) / ticks;
      usage.virtualBytes = field(23);
      usage.residentBytes = field(24) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    } catch (const std::exception&) {
      // A format this program does not know: the figures it could not read stay unset.
    }
  }
  std::error_code error;
  uint64_t open = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++open;
  }
  if (!error) usage.openFiles = open - 1;  // without the one the listing itself holds
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) usage.maxFiles = limit.rlim_cur;
  return usage;
}

}  // namespace sentrel
