#pragma once

#include <cstdio>
#include <string>

#include "app/cli_command.h"
#include "common/date_time.h"
#include "settings/text_model.h"

namespace sentrel {

// Where --history and --history-csv read, and what they print to.
struct HistoryCommandContext {
  std::string dataFolder;  // PathToData: the host list and history.db
  DateTime now = 0;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  int terminalCodePage = kUtf8CodePage;  // what `out` shows --history in; CSV stays UTF-8
};

// --history: the figures of the period and the outage timeline of one host.
// --history-csv: the host's stored minute rows of the period as CSV.
// Read-only, so they run beside a running Sentrel. Returns the exit code:
// 0 printed (maybe an empty period), 1 no history for the host, 2 no such row.
int ShowHistory(const CliCommand& command, const HistoryCommandContext& context);

}  // namespace sentrel
