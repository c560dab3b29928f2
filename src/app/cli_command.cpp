#include "app/cli_command.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "common/command_line.h"
#include "core/degradation.h"
#include "core/host_list.h"
#include "export/listen_address.h"
#include "history/history_time.h"
#include "platform/terminal.h"
#include "probes/address_range.h"

namespace sentrel {

namespace {

using Kind = CliCommand::Kind;

struct CommandWord {
  const char* word;
  Kind kind;
  bool takesValue;
};

constexpr CommandWord kCommands[] = {
    {"--headless", Kind::Headless, false}, {"--help", Kind::Help, false},
    {"--list", Kind::List, false},         {"--add", Kind::Add, true},
    {"--remove", Kind::Remove, true},      {"--enable", Kind::Enable, true},
    {"--disable", Kind::Disable, true},    {"--trace", Kind::Trace, true},
    {"--history", Kind::History, true},    {"--history-csv", Kind::HistoryCsv, true},
    {"--import", Kind::Import, true},      {"--export", Kind::Export, true},
    {"--discover", Kind::Discover, true},
    {"--mail-test", Kind::MailTest, true},
    {"--install-service", Kind::InstallService, false},
    {"--uninstall-service", Kind::UninstallService, false},
    {"--service", Kind::Service, false},
    {"--set-parent", Kind::SetParent, true},
    {"--targets", Kind::Targets, false},   {"--target-add", Kind::TargetAdd, false},
    {"--target-remove", Kind::TargetRemove, false}, {"--target-test", Kind::TargetTest, false},
    {"--set-degradation", Kind::SetDegradation, true},
};

const CommandWord* FindCommand(const std::string& arg) {
  for (const auto& c : kCommands) {
    if (arg == c.word) return &c;
  }
  return nullptr;
}

// Strict here, unlike the data file: an operator's typo must not act on
// another row or set an interval of 0.
bool ParsePositive(const std::string& text, int32_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value > 0;
}

// A whole number within low..high, nothing else.
bool ParseWithin(const std::string& text, int32_t low, int32_t high, int32_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= low && value <= high;
}

bool IsTransferLogSwitch(const std::string& arg) {
  return HasCommandLineSwitch(std::vector<std::string>{arg}, "sl");
}

}  // namespace

CliCommand ParseCliCommand(const std::vector<std::string>& args, int terminalCodePage) {
  CliCommand cmd;
  bool haveCommand = false;
  auto fail = [&cmd](std::string message) {
    cmd.error = std::move(message);
    return cmd;
  };

  // With --discover, --add is its switch (add what answers), not a command.
  const bool discovering = std::find(args.begin(), args.end(), "--discover") != args.end();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsTransferLogSwitch(arg)) continue;
    if (discovering && arg == "--add") {
      cmd.addFound = true;
      continue;
    }
    // Values are text from the terminal: decoded like all outside text.
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = DecodeOutsideText(args[++i], terminalCodePage);
      return true;
    };
    if (const CommandWord* c = FindCommand(arg)) {
      if (haveCommand) return fail("only one command may be given: " + arg);
      haveCommand = true;
      cmd.kind = c->kind;
      if (c->kind == Kind::TargetAdd || c->kind == Kind::TargetRemove ||
          c->kind == Kind::TargetTest) {
        // NAME, then KIND URL and the KEY=VALUE words of --target-add.
        const std::size_t fixed = c->kind == Kind::TargetAdd ? 3 : 1;
        while (i + 1 < args.size() && !IsTransferLogSwitch(args[i + 1]) &&
               (cmd.targetArgs.size() < fixed || args[i + 1].find('=') != std::string::npos)) {
          cmd.targetArgs.push_back(DecodeOutsideText(args[++i], terminalCodePage));
        }
        if (cmd.targetArgs.size() < fixed) {
          return fail(c->kind == Kind::TargetAdd ? "--target-add needs NAME KIND URL"
                                                 : arg + " needs a target name");
        }
        continue;
      }
      if (!c->takesValue) continue;
      std::string v;
      if (!value(v)) return fail(arg + " needs a value");
      if (c->kind == Kind::Add || c->kind == Kind::Trace) {
        if (v.empty()) return fail(arg + " needs a host address or name");
        cmd.address = v;
      } else if (c->kind == Kind::Import || c->kind == Kind::Export) {
        if (v.empty()) return fail(arg + " needs a file");
        // The file name as the system has it, not decoded.
        cmd.file = args[i];
      } else if (c->kind == Kind::Discover) {
        std::string error;
        if (ParseAddressRange(v, error).empty()) return fail(arg + " " + v + ": " + error);
        cmd.range = v;
      } else if (c->kind == Kind::MailTest) {
        if (v.empty()) return fail(arg + " needs a mail address");
        cmd.address = v;
      } else if (c->kind == Kind::History || c->kind == Kind::HistoryCsv) {
        // A row of the list, or the address or name of a host that has left
        // the list but not the history.
        const bool number =
            !v.empty() && v.find_first_not_of("0123456789", v[0] == '-' ? 1 : 0) == std::string::npos;
        int32_t row = 0;
        if (number && !ParsePositive(v, row)) return fail("not a row number: " + v);
        if (v.empty()) return fail(arg + " needs a row or a host");
        if (number) {
          cmd.row = row;
        } else {
          cmd.address = v;
        }
      } else {
        int32_t row = 0;
        if (!ParsePositive(v, row)) return fail("not a row number: " + v);
        cmd.row = row;
        if (c->kind == Kind::SetParent) {
          if (!value(cmd.parent) || cmd.parent.empty()) {
            return fail("--set-parent ROW needs the parent: an address, a row or -");
          }
          cmd.hasParent = true;
        }
      }
    } else if (arg == "--name") {
      if (!value(cmd.name)) return fail("--name needs a value");
    } else if (arg == "--desc") {
      if (!value(cmd.desc)) return fail("--desc needs a value");
    } else if (arg == "--parent") {
      if (!value(cmd.parent) || cmd.parent.empty() || cmd.parent == "-") {
        return fail("--parent needs the address, name or row of a listed host");
      }
      cmd.hasParent = true;
    } else if (arg == "--interval") {
      std::string v;
      if (!value(v) || !ParsePositive(v, cmd.interval)) {
        return fail("--interval needs a number of seconds above 0");
      }
      cmd.hasInterval = true;
    } else if (arg == "--degraded-latency" || arg == "--degraded-loss" ||
               arg == "--degraded-checks") {
      const bool latency = arg == "--degraded-latency";
      const bool loss = arg == "--degraded-loss";
      const int32_t low = latency || loss ? 0 : 1;
      const int32_t high = latency ? std::numeric_limits<int32_t>::max() : loss ? 100 : kMaxDegradationChecks;
      std::string v;
      int32_t number = 0;
      if (!value(v) || !ParseWithin(v, low, high, number)) {
        return fail(arg + (latency ? " needs milliseconds, 0 for off"
                           : loss  ? " needs a per cent from 0 to 100, 0 for off"
                                   : " needs a number of requests from 1 to " +
                                         std::to_string(kMaxDegradationChecks)));
      }
      (latency ? cmd.degradedLatency : loss ? cmd.degradedLoss : cmd.degradedChecks) = number;
    } else if (arg == "--degraded-notify") {
      std::string v;
      if (!value(v)) return fail("--degraded-notify needs target names (an empty text for none)");
      cmd.degradedTargets = v;
    } else if (arg == "--since") {
      std::string v;
      if (!value(v)) return fail("--since needs a date");
      cmd.since = ParseHistoryDate(v);
      if (!cmd.since) return fail("not a date: " + v + " (YYYY-MM-DD or YYYY-MM-DDTHH:MM)");
    } else if (arg == "--ping") {
      cmd.ping = true;
    } else if (arg == "--metrics") {
      std::string v;
      if (!value(v)) return fail("--metrics needs ADDRESS:PORT (an empty text for none)");
      std::string error;
      if (!ParseListenAddress(v, error) && !error.empty()) return fail("--metrics " + error);
      cmd.metrics = v;
    } else {
      return fail("unknown argument: " + arg);
    }
  }

  const bool hostOptions =
      !cmd.name.empty() || !cmd.desc.empty() || cmd.hasInterval || cmd.hasParent;
  if (hostOptions && cmd.kind != Kind::Add && cmd.kind != Kind::SetParent) {
    return fail("--name, --desc, --interval and --parent go with --add");
  }
  if (cmd.kind == Kind::SetParent && (!cmd.name.empty() || !cmd.desc.empty() || cmd.hasInterval)) {
    return fail("--name, --desc and --interval go with --add");
  }
  const bool degradation = cmd.degradedLatency || cmd.degradedLoss || cmd.degradedChecks ||
                           cmd.degradedTargets;
  if (degradation && cmd.kind != Kind::Add && cmd.kind != Kind::SetDegradation) {
    return fail("--degraded-latency, --degraded-loss, --degraded-checks and --degraded-notify go "
                "with --add and --set-degradation");
  }
  if (!degradation && cmd.kind == Kind::SetDegradation) {
    return fail("--set-degradation needs --degraded-latency, --degraded-loss, --degraded-checks "
                "or --degraded-notify");
  }
  if (cmd.since && cmd.kind != Kind::History && cmd.kind != Kind::HistoryCsv) {
    return fail("--since goes with --history and --history-csv");
  }
  if (cmd.ping && cmd.kind != Kind::Headless && cmd.kind != Kind::Window) {
    return fail("--ping goes with --headless");
  }
  if (cmd.metrics && cmd.kind != Kind::Headless && cmd.kind != Kind::InstallService &&
      cmd.kind != Kind::Service) {
    return fail("--metrics goes with --headless and --install-service");
  }
  return cmd;
}

std::string CliUsage() {
  return "Usage: sentrel [COMMAND] [-sl]\n"
         "\n"
         "Without a command Sentrel opens its window; a build without one (the\n"
         "Windows build) says so and points to --headless.\n"
         "\n"
         "  --headless [--ping] [--metrics ADDRESS:PORT]\n"
         "                        run the monitoring engine without a window; every\n"
         "                        log line also goes to standard output, message\n"
         "                        boxes to standard error; SIGINT or SIGTERM stops it\n"
         "                        (on Windows Ctrl+C, closing the console, logoff,\n"
         "                        shutdown or taskkill without /F).\n"
         "                        Checks start when they were running at the last\n"
         "                        stop, or with --ping.\n"
         "  --metrics ADDRESS:PORT  with --headless: serve Prometheus metrics there\n"
         "                        (port 9639 when only an address is given; an\n"
         "                        IPv6 address in brackets) in place of the\n"
         "                        MetricsListen option; \"\" serves none\n"
         "  --list                print the host list: row, enabled mark, address,\n"
         "                        name, description, schedule, parent; while\n"
         "                        Sentrel runs, each host's state too\n"
         "  --add ADDRESS [--name NAME] [--desc TEXT] [--interval SECONDS]\n"
         "        [--parent HOST]\n"
         "                        append an enabled host seeded from the default host;\n"
         "                        ADDRESS is an IPv4 or IPv6 address or a host name;\n"
         "                        HOST, the host it is reached through, is the\n"
         "                        address, name or row of a listed host\n"
         "      [--degraded-latency MS] [--degraded-loss PERCENT]\n"
         "      [--degraded-checks N] [--degraded-notify NAMES]\n"
         "                        the host is degraded when its average reply time\n"
         "                        is above MS, or its loss above PERCENT, over its\n"
         "                        latest N echo requests (default 10); 0 is off.\n"
         "                        It is normal again when both are below 80 % of\n"
         "                        them. NAMES: notification targets told\n"
         "                        \"degraded\" and \"recovered\", comma-separated\n"
         "  --set-degradation ROW [--degraded-latency MS] [--degraded-loss PERCENT]\n"
         "      [--degraded-checks N] [--degraded-notify NAMES]\n"
         "                        change those settings of the host in row ROW;\n"
         "                        what is not given stays as it is\n"
         "  --set-parent ROW HOST|-\n"
         "                        the host in row ROW is reached through HOST (as\n"
         "                        with --parent), or through no host (-). While a\n"
         "                        host's parent is down, its loss alarm is held and\n"
         "                        its row shows \"Unreachable\"; a loop is refused\n"
         "  --remove ROW          delete the host in row ROW (rows as --list shows)\n"
         "  --enable ROW          tick the host in row ROW\n"
         "  --disable ROW         untick the host in row ROW\n"
         "  --trace HOST          trace the route to HOST with the default host's\n"
         "                        settings and print what the log receives\n"
         "  --history ROW [--since DATE]\n"
         "                        the figures (availability, loss, round trips,\n"
         "                        jitter, outages) and the outage timeline of the\n"
         "                        host in row ROW, since DATE (YYYY-MM-DD or\n"
         "                        YYYY-MM-DDTHH:MM, local time; default: the last\n"
         "                        24 hours). ROW may also be the address or name of\n"
         "                        a host that has left the list.\n"
         "  --history-csv ROW [--since DATE]\n"
         "                        the host's minute rows as CSV (minutes are kept\n"
         "                        14 days, hours 2 years, outages always)\n"
         "  --import FILE         add the hosts of a CSV file (a header row naming\n"
         "                        any of address, name, description, interval,\n"
         "                        enabled; comma or semicolon) or of a text file\n"
         "                        of one address or host name per line; hosts\n"
         "                        already listed are skipped, bad rows rejected\n"
         "                        (exit code 1) with their line and reason\n"
         "  --export FILE         write the host list as such a CSV file\n"
         "  --discover RANGE [--add]\n"
         "                        ping every address of RANGE once (a.b.c.d/22 up\n"
         "                        to a.b.c.d/32, or a.b.c.d-e) and list those that\n"
         "                        answer, with name and reply time; --add adds\n"
         "                        those not listed yet\n"
         "  --mail-test ADDRESS   send a test message to ADDRESS through the mail\n"
         "                        options and print the encryption and login used,\n"
         "                        or why it was not sent (exit code 1)\n"
         "  --install-service [--metrics ADDRESS:PORT]\n"
         "                        Windows: install the service \"Sentrel\", which runs\n"
         "                        the monitoring engine with the system, checks\n"
         "                        running, for the account it runs as (its log in\n"
         "                        that account's data folder); needs an administrator.\n"
         "                        Pausing the service stops the checks, continuing\n"
         "                        starts them again; stopping it saves as --headless does\n"
         "  --uninstall-service   Windows: stop and remove that service\n"
         "  --targets             list the notification targets\n"
         "  --target-add NAME KIND URL [KEY=VALUE ...]\n"
         "                        add or replace a notification target; KIND is\n"
         "                        webhook, slack, teams, discord, telegram, ntfy or\n"
         "                        gotify; values such as Token=, ChatId=, Topic=,\n"
         "                        Priority=, Body= (a template) and CAFile=\n"
         "  --target-remove NAME  remove a notification target\n"
         "  --target-test NAME    send a test message to a target and show the answer\n"
         "  --help                print this text\n"
         "  -sl, /sl              write the mail transfer log smtp.log\n"
         "\n"
         "Commands that change the list refuse while another Sentrel of this user\n"
         "runs. Bad arguments exit with code 2 and change nothing.\n";
}

int RefuseCommand(std::FILE* err, const std::string& message, int code) {
  WriteTerminalText(err, "sentrel: " + message + "\n");
  return code;
}

std::optional<std::size_t> ListRowOf(const CliCommand& command, const HostList& list,
                                     std::FILE* err, int& code) {
  if (command.row < 1 || static_cast<std::size_t>(command.row) > list.Count()) {
    code = RefuseCommand(err,
                         "no row " + std::to_string(command.row) + " (the list has " +
                             std::to_string(list.Count()) + ")",
                         2);
    return std::nullopt;
  }
  return static_cast<std::size_t>(command.row - 1);
}

}  // namespace sentrel
