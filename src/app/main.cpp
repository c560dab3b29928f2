#include <cstdio>
#include <string>
#include <vector>

#include "app/cli_command.h"
#include "app/discover_command.h"
#include "app/headless_desktop.h"
#include "app/headless_runner.h"
#include "app/history_commands.h"
#include "app/host_commands.h"
#include "app/mail_test_command.h"
#include "app/target_commands.h"
#include "common/clock.h"
#include "common/command_line.h"
#include "gui/window_program.h"
#include "platform/icmp_library.h"
#include "platform/paths.h"
#include "platform/raw_icmp_socket.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/sockets.h"
#include "platform/system_log.h"
#include "platform/terminal.h"
#include "probes/icmp_mode.h"
#include "settings/language_files.h"
#include "settings/options.h"

using namespace sentrel;

namespace {

// Also reads the user's language file, whose code page is the one that
// legacy text in the data file is read in.
std::string DataFolderFromOptions() {
  Registry registry;
  registry.Load();
  ROptions options;
  LoadOptions(options, registry);
  LoadLanguage(options.Language, LanguageFolders());
  return options.PathToData;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  std::vector<const char*> commandLine{argc > 0 ? argv[0] : "sentrel"};
  for (const std::string& argument : arguments) commandLine.push_back(argument.c_str());
  SetCommandLine(static_cast<int>(commandLine.size()), commandLine.data());
  const int terminal = CodePageOfCharset(TerminalCharset());
  const CliCommand command = ParseCliCommand(arguments, terminal);
  if (!command.error.empty()) {
    WriteTerminalText(stderr, TextForCodePage("sentrel: " + command.error +
                                                  " (sentrel --help lists the commands)\n",
                                              terminal));
    return 2;
  }

  using Kind = CliCommand::Kind;
  HeadlessDesktop desktop;
  switch (command.kind) {
    case Kind::Help:
      WriteTerminalText(stdout, CliUsage());
      return 0;
    case Kind::Window:
      return RunWindowProgram({argc, argv, GetProgramFolder()});
    case Kind::Headless:
      return RunHeadless({command.ping, GetProgramFolder(), command.metrics, {}});
    case Kind::InstallService: {
      // The service always checks: it runs unattended, and pausing it is
      // the way to stop its checks.
      std::string serviceCommand = "--service";
      if (command.metrics) serviceCommand += " --metrics \"" + *command.metrics + "\"";
      const std::string error = InstallService(serviceCommand);
      if (!error.empty()) return RefuseCommand(stderr, error, 1);
      // The service's message boxes go to the event log, which reads their
      // texts through the program's message table once it knows the source.
      if (const std::string note = RegisterSystemLogSource(); !note.empty()) {
        WriteTerminalText(stderr, "sentrel: " + note +
                                      "; the event log will call the source of the service's "
                                      "entries unknown\n");
      }
      WriteTerminalText(stdout,
                        "The service Sentrel is installed and starts with the system; "
                        "\"net start Sentrel\" starts it now.\n");
      return 0;
    }
    case Kind::UninstallService: {
      const std::string error = UninstallService();
      if (!error.empty()) return RefuseCommand(stderr, error, 1);
      if (const std::string note = UnregisterSystemLogSource(); !note.empty()) {
        WriteTerminalText(stderr, "sentrel: " + note + "\n");
      }
      WriteTerminalText(stdout, "The service Sentrel is removed; its data stays.\n");
      return 0;
    }
    case Kind::Service: {
      const auto code = RunAsService([&](const ServiceStepsSink& steps) {
        return RunHeadless({true, GetProgramFolder(), command.metrics, steps});
      });
      if (code) return *code;
      return RefuseCommand(stderr,
                           "--service is for the service control manager; "
                           "sentrel --headless runs the engine here",
                           2);
    }
    case Kind::List:
      return ListHosts({DataFolderFromOptions(), {}, desktop, stdout, stderr, terminal});
    case Kind::Add:
    case Kind::Remove:
    case Kind::Enable:
    case Kind::SetParent:
    case Kind::Disable:
    case Kind::SetDegradation:
      return ChangeHosts(command, {DataFolderFromOptions(), {}, desktop, stdout, stderr, terminal});
    case Kind::Import:
      return ImportHosts(command, {DataFolderFromOptions(), {}, desktop, stdout, stderr, terminal});
    case Kind::Export:
      return ExportHosts(command, {DataFolderFromOptions(), {}, desktop, stdout, stderr, terminal});
    case Kind::History:
    case Kind::HistoryCsv:
      return ShowHistory(command,
                         {DataFolderFromOptions(), SystemClock().Now(), stdout, stderr, terminal});
    case Kind::Discover: {
      StartSockets();
      const int code = DiscoverHosts(command, {DataFolderFromOptions(), {}, desktop, stdout, stderr, terminal},
                                     LoadIcmpLibrary());
      StopSockets();
      return code;
    }
    case Kind::MailTest:
      return RunMailTest({command.address, GetProgramFolder(), stdout, stderr});
    case Kind::Targets:
    case Kind::TargetAdd:
    case Kind::TargetRemove:
    case Kind::TargetTest: {
      Registry registry;
      std::string warning;
      if (!registry.Load(&warning)) {
        std::fprintf(stderr, "sentrel: %s\n", warning.c_str());
        return 1;
      }
      return RunTargetCommand(command, registry, stdout, stderr);
    }
    case Kind::Trace: {
      StartSockets();
      IcmpContext icmp = DetectIcmpMode([] { return LoadIcmpLibrary(); }, OpenRawIcmpSocket);
      icmp.desktop = &desktop;
      const HostCommandContext context{DataFolderFromOptions(), {}, desktop, stdout, stderr,
                                       terminal};
      const int code = TraceHost(command, context, icmp);
      StopSockets();
      return code;
    }
  }
  return 2;
}
