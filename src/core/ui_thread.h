#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

namespace sentrel {

// The window thread as the core sees it: the one thread that may touch the
// log, windows and alarms. The Qt shell posts through its event loop, the
// headless runner and the tests through TaskQueueUiThread.
class UiThread {
 public:
  virtual ~UiThread() = default;
  // Queues `task` to run on the window thread; never runs it inline, never blocks.
  virtual void Post(std::function<void()> task) = 0;
  virtual bool IsUiThread() const = 0;
  // Serves the window thread's queue in a local loop, as a modal box does,
  // until `done()` is true; whoever makes it true Posts a task afterwards so
  // that the loop looks again. Returns false when the loop was ended for
  // another reason (the program is leaving) while `done()` is still false.
  // Window thread only; may nest.
  virtual bool ServeUntil(const std::function<bool()>& done) = 0;
};

// The blocking hand-off of a worker: runs `step` on the window thread and
// waits until it has run; runs it at once when called on the window thread.
//
// Returns false when `stop` is requested before the step has finished: a
// worker being ended must never wait for a window thread that is itself
// waiting for that worker. A step still queued then never runs. A step
// already running (for instance inside a message box's modal loop, where the
// host may be deleted) runs on, so a step must not touch its host after it
// has entered a nested event loop.
bool CallOnUiThread(UiThread& ui, std::function<void()> step, std::stop_token stop);

// The hand-off of a step that ends later than it returns (an alarm whose
// actions continue when its transfer has ended): `step` runs on the window
// thread and calls `done` (on the window thread, once) when it has finished;
// the caller waits until then. Gives up as CallOnUiThread does; a step that
// has started then runs on to its end, and its late `done` does nothing.
// Called on the window thread it starts the step and returns at once.
using StepDone = std::function<void()>;
enum class HandOffEnd {
  Done,         // the step ran and called `done`
  NeverRan,     // given up while queued: the step will never run
  LeftRunning,  // given up while the step was running; it runs on alone
};
HandOffEnd AwaitOnUiThread(UiThread& ui, std::function<void(StepDone done)> step,
                           std::stop_token stop);

// A window thread made of a plain task queue: the thread that constructs it
// is the window thread and serves the queue with RunPending / RunFor.
class TaskQueueUiThread final : public UiThread {
 public:
  TaskQueueUiThread();

  void Post(std::function<void()> task) override;
  bool IsUiThread() const override;
  bool ServeUntil(const std::function<bool()>& done) override;

  // Runs the tasks queued so far, taking them from the queue one by one, so
  // that a task which serves the queue in a nested loop runs the later ones
  // there instead of leaving them to wait behind it. Returns how many this
  // call ran itself. Window thread only.
  int RunPending();
  // Serves the queue until `timeout` has passed or `done()` is true.
  // Window thread only.
  void RunFor(std::chrono::milliseconds timeout, const std::function<bool()>& done = {});
  // Wakes a RunFor early so that the caller can look at its condition again.
  void Wake();

 private:
  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> tasks_;
  bool woken_ = false;
};

}  // namespace sentrel
