#include <cstdio>
#include <string>
#include <vector>

#include "app/cli_command.h"
#include "app/headless_desktop.h"
#include "app/headless_runner.h"
#include "app/history_commands.h"
#include "app/host_commands.h"
#include "common/clock.h"
#include "common/command_line.h"
#include "gui/window_program.h"
#include "platform/icmp_library.h"
#include "platform/paths.h"
#include "platform/raw_icmp_socket.h"
#include "platform/registry.h"
#include "platform/sockets.h"
#include "probes/icmp_mode.h"
#include "settings/options.h"

using namespace sentrel;

namespace {

std::string DataFolderFromOptions() {
  Registry registry;
  registry.Load();
  ROptions options;
  LoadOptions(options, registry);
  return options.PathToData;
}

}  // namespace

int main(int argc, char** argv) {
  SetCommandLine(argc, argv);
  const CliCommand command = ParseCliCommand(std::vector<std::string>(argv + 1, argv + argc));
  if (!command.error.empty()) {
    std::fprintf(stderr, "sentrel: %s (sentrel --help lists the commands)\n",
                 command.error.c_str());
    return 2;
  }

  using Kind = CliCommand::Kind;
  HeadlessDesktop desktop;
  switch (command.kind) {
    case Kind::Help:
      std::fputs(CliUsage().c_str(), stdout);
      return 0;
    case Kind::Window:
      return RunWindowProgram({argc, argv, GetProgramFolder()});
    case Kind::Headless:
      return RunHeadless({command.ping, GetProgramFolder(), command.metrics});
    case Kind::List:
      return ListHosts({DataFolderFromOptions(), {}, desktop});
    case Kind::Add:
    case Kind::Remove:
    case Kind::Enable:
    case Kind::Disable:
      return ChangeHosts(command, {DataFolderFromOptions(), {}, desktop});
    case Kind::History:
    case Kind::HistoryCsv:
      return ShowHistory(command, {DataFolderFromOptions(), SystemClock().Now()});
    case Kind::Trace: {
      StartSockets();
      IcmpContext icmp = DetectIcmpMode([] { return LoadIcmpLibrary(); }, OpenRawIcmpSocket);
      icmp.desktop = &desktop;
      const int code = TraceHost(command, {DataFolderFromOptions(), {}, desktop}, icmp);
      StopSockets();
      return code;
    }
  }
  return 2;
}
