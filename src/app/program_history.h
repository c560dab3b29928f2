#pragma once

#include <memory>
#include <string>

#include "common/clock.h"
#include "core/event_log.h"
#include "core/monitor_services.h"
#include "core/ui_thread.h"

namespace sentrel {

// Opens the history store of `dataFolder` and makes it the recorder and the
// figures of `services`; the store lives as long as the returned object. A
// build without the history store (no SQLite for its target) records nothing
// and returns an empty object.
std::shared_ptr<void> HookUpHistory(MonitorServices& services, const std::string& dataFolder,
                                    UiThread& ui, EventLog& log, const Clock& clock);

}  // namespace sentrel
