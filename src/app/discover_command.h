#pragma once

#include <memory>

#include "app/cli_command.h"
#include "app/host_commands.h"
#include "platform/icmp_library.h"
#include "probes/sweep.h"

namespace sentrel {

// --discover RANGE [--add]: one echo request to every address of the range,
// the answering ones printed with their reverse name and reply time; with
// --add those not listed yet are added (a second run adds nothing). A
// progress line is written on standard error while it is a terminal.
// SIGINT and SIGTERM stop the sweep at once; nothing is added then.
// Returns 0, 1 when stopped or when the list could not be changed, 2 for a
// bad range.
int DiscoverHosts(const CliCommand& command, const HostCommandContext& context,
                  std::shared_ptr<IcmpLibrary> library, SweepSettings settings = {});

}  // namespace sentrel
