#include "app/program_history.h"

#include "history/history_store.h"

namespace sentrel {

std::shared_ptr<void> HookUpHistory(MonitorServices& services, const std::string& dataFolder,
                                    UiThread& ui, EventLog& log, const Clock& clock) {
  // Its notices reach the log on the window thread.
  auto history =
      std::make_shared<HistoryStore>(ProgramHistorySettings(dataFolder, ui, log, clock), clock);
  services.recorder = history.get();
  services.figures = history.get();
  return history;
}

}  // namespace sentrel
