#pragma once

#include <cstdio>
#include <string>

#include "app/cli_command.h"
#include "core/host_entry.h"
#include "platform/desktop.h"
#include "probes/icmp_mode.h"
#include "settings/text_model.h"

namespace sentrel {

// Where the command-line host commands read and write, and what they print to.
struct HostCommandContext {
  std::string dataFolder;   // PathToData of the options
  std::string lockPath;     // single-instance lock; empty = the user's default
  Desktop& desktop;         // folder question and save errors
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  int terminalCodePage = kUtf8CodePage;  // what `out` is shown in
};

// --list: one line per host. Returns the exit code.
int ListHosts(const HostCommandContext& context);

// --add, --remove, --enable, --disable: the list's own operations followed by
// a save, refused while another Sentrel of this user holds the instance lock
// (its next save would overwrite the change). Returns the exit code: 0 done,
// 1 refused or not saved, 2 bad arguments (nothing saved).
int ChangeHosts(const CliCommand& command, const HostCommandContext& context);

// --trace: the default host's trace settings (the built-in ones without a
// default host) towards `command.address`; prints what the log receives.
int TraceHost(const CliCommand& command, const HostCommandContext& context,
              const IcmpContext& icmp);

// The schedule of a host in a few words, for --list.
std::string ScheduleText(const HostEntry& host);

}  // namespace sentrel
