#pragma once

#include <cstdint>
#include <optional>

namespace sentrel {

// What the system says about this process, for the metrics endpoint's
// process_* figures. A figure the system does not give stays unset.
struct ProcessUsage {
  std::optional<double> startTimeSeconds;  // since 1970
  std::optional<double> cpuSeconds;        // user and system
  std::optional<uint64_t> residentBytes;
  std::optional<uint64_t> virtualBytes;
  std::optional<uint64_t> openFiles;  // descriptors (handles on Windows)
  std::optional<uint64_t> maxFiles;   // the soft limit on descriptors
  std::optional<uint64_t> threads;
};

ProcessUsage ReadProcessUsage();

}  // namespace sentrel
