#include <cstdio>

#include "app/history_commands.h"
#include "app/program_history.h"

// A build without the history store: checks run and alarms fire as ever, and
// the history commands say why they have nothing to show.
namespace sentrel {

std::shared_ptr<void> HookUpHistory(MonitorServices&, const std::string&, UiThread&, EventLog&,
                                    const Clock&) {
  return nullptr;
}

int ShowHistory(const CliCommand&, const HistoryCommandContext&) {
  std::fprintf(stderr, "sentrel: this build keeps no history (it was built without SQLite)\n");
  return 1;
}

}  // namespace sentrel
