#include "core/result_recorder.h"

#include "core/host_entry.h"

namespace sentrel {

HistoryHost HistoryHostOf(const HostEntry& host) {
  if (!host.PingByIP) return {{}, host.HostName.Get()};
  return {host.HostIP.Get(), host.HostName.Get()};
}

}  // namespace sentrel
