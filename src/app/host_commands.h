#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "app/cli_command.h"
#include "core/host_entry.h"
#include "platform/desktop.h"
#include "probes/host_address.h"
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
  // Whether a host name has an address now (the system resolver; tests
  // give their own).
  std::function<bool(const std::string&)> resolves = NameResolvesNow;
};

// --list: one line per host. Returns the exit code.
int ListHosts(const HostCommandContext& context);

// --add, --remove, --enable, --disable, --set-degradation: the list's own
// operations followed by a save, refused while another Sentrel of this user
// holds the instance lock (its next save would overwrite the change). Returns the exit code: 0 done,
// 1 refused or not saved, 2 bad arguments (nothing saved).
int ChangeHosts(const CliCommand& command, const HostCommandContext& context);

// --import FILE: adds the file's hosts as the window's import does, under
// the same instance lock as ChangeHosts; prints each rejected line with its
// reason, then "added N, skipped M, rejected K". Returns 0, 1 when a row was
// rejected or the file could not be read or the list saved.
int ImportHosts(const CliCommand& command, const HostCommandContext& context);

// --export FILE: the host list as the CSV that --import reads. 0, else 1.
int ExportHosts(const CliCommand& command, const HostCommandContext& context);

// --trace: the default host's trace settings (the built-in ones without a
// default host) towards `command.address`; prints what the log receives.
int TraceHost(const CliCommand& command, const HostCommandContext& context,
              const IcmpContext& icmp);

// The schedule of a host in a few words, for --list.
std::string ScheduleText(const HostEntry& host);

}  // namespace sentrel
