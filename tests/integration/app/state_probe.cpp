// What a later start reads, for the crash tests: the registry file (and
// whether it was damaged) and the host list of a data folder.
//   state_probe REGISTRY_FILE DATA_FOLDER
// prints "registry ok" or "registry damaged: WHY", "isPinging VALUE" and
// "hosts N"; exits 1 when the registry file exists but cannot be read.
#include <cstdio>
#include <string>

#include "common/clock.h"
#include "core/data_file.h"
#include "core/host_list.h"
#include "platform/registry.h"

using namespace sentrel;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: state_probe REGISTRY_FILE DATA_FOLDER\n");
    return 2;
  }
  Registry registry(argv[1]);
  std::string warning;
  if (!registry.Load(&warning)) {
    std::printf("registry unreadable: %s\n", warning.c_str());
    return 1;
  }
  std::printf("registry %s\n", warning.empty() ? "ok" : ("damaged: " + warning).c_str());
  std::printf("isPinging %s\n",
              registry.GetString("SOFTWARE\\Sentrel\\MainForm", "isPinging").value_or("-").c_str());
  SystemClock clock;
  HostList list(clock);
  std::printf("hosts %zu\n", LoadHosts(list, argv[2]).loaded);
  return 0;
}
