#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "core/event_log.h"
#include "core/monitor_services.h"
#include "core/ui_thread.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_echo_library.h"
#include "fakes/recording_channels.h"
#include "settings/options.h"

namespace sentrel::testing {

// The log pane as a list of the texts written to it.
class RecordingPane final : public LogPane {
 public:
  void Append(const std::string& text) override {
    std::lock_guard lock(mutex_);
    texts_.push_back(text);
  }
  std::vector<std::string> Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
  }
  std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return texts_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

// Everything the engine needs, faked; the constructing thread is the window
// thread. Status lines carry dates as dd.mm.yyyy and times as HH:MM:SS.
struct EngineEnv {
  FakeClock clock{EncodeDateTime({2026, 12, 5, 14, 3, 7, 0})};
  TaskQueueUiThread ui;
  FakeDesktop desktop;
  ROptions options;
  EventLog log;
  RecordingPane pane;
  std::shared_ptr<ScriptedEchoLibrary> library = std::make_shared<ScriptedEchoLibrary>();
  IcmpContext icmp;
  RecordingChannels channels;

  EngineEnv() {
    icmp.mode = IcmpMode::Library;
    icmp.library = library;
    icmp.desktop = &desktop;
    log.SetPane(&pane);
  }

  MonitorServices Services(WorkerTiming timing = {}) {
    return {clock, ui, desktop, options, log, icmp, channels, {"%d.%m.%Y", "%H:%M:%S"}, timing};
  }

  std::vector<std::string> BoxesCaptioned(const std::string& caption) const {
    std::vector<std::string> boxes;
    for (const auto& call : desktop.Calls()) {
      if (call.rfind("box:" + caption + ":", 0) == 0) boxes.push_back(call);
    }
    return boxes;
  }
};

}  // namespace sentrel::testing
