#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "common/clock.h"
#include "core/activity_counters.h"
#include "core/alarm_channels.h"
#include "core/date_text.h"
#include "core/event_log.h"
#include "core/history_figures.h"
#include "core/result_recorder.h"
#include "core/ui_thread.h"
#include "platform/desktop.h"
#include "probes/icmp_mode.h"
#include "settings/options.h"

namespace sentrel {

class AlarmHolds;

// The pace of a worker's wait cycle. The program keeps the defaults; tests
// shorten the waits so that a cycle passes in milliseconds.
struct WorkerTiming {
  // One wait of an Always host lasts PingInterval times this.
  std::chrono::milliseconds perIntervalSecond{10};
  // One wait of a scheduled host.
  std::chrono::milliseconds scheduledWait{600};
  // Waits in one cycle: an Always host is checked about every
  // 0.99 x PingInterval seconds plus the time of the check.
  int waitsPerCycle = 99;
};

// The alarms on their way, shared by the engine and the steps it hands to
// the window thread: leaving the program lets them finish before the
// channels close, and a step that runs after the engine has gone does
// nothing.
struct AlarmTally {
  std::atomic<int> inFlight{0};
  std::atomic<bool> leaving{false};
  bool engineGone = false;  // window thread only
  // Alarms of workers ended while leaving, before the window thread took
  // them up; the engine starts them once its workers have ended, while
  // their hosts still exist.
  std::mutex mutex;
  std::vector<std::function<void()>> leftBehind;
};

// What the engine needs of the program around it. Every reference must
// outlive the Monitor.
struct MonitorServices {
  const Clock& clock;
  UiThread& ui;
  Desktop& desktop;
  ROptions& options;
  EventLog& log;
  const IcmpContext& icmp;
  AlarmChannels& channels;
  DateTextFormats formats;
  WorkerTiming timing{};
  // The history store, when the program keeps one: every result goes to
  // `recorder`, and the placeholders %Loss% and %Outage% read `figures`.
  ResultRecorder* recorder = nullptr;
  const HistoryFigures* figures = nullptr;
  // Counts of the alarms' actions for the metrics endpoint, when it runs.
  ActivityCounters* counters = nullptr;
  // Made by the Monitor when not given.
  std::shared_ptr<AlarmTally> alarms = nullptr;
  // The holds of loss alarms behind a down parent or uplink; set by the
  // Monitor. Without it every alarm goes out.
  AlarmHolds* holds = nullptr;
};

}  // namespace sentrel
