#pragma once

#include <cstdio>

#include "app/cli_command.h"

namespace sentrel {

class Registry;

// --targets, --target-add, --target-remove and --target-test on `registry`
// (loaded; saved here after a change). A running Sentrel reads the targets
// afresh for every message, so a change counts at once. Returns the exit
// code: 0 done, 1 refused or failed (a test that got no 2xx answer
// included), 2 bad arguments.
int RunTargetCommand(const CliCommand& command, Registry& registry, std::FILE* out,
                     std::FILE* err);

}  // namespace sentrel
