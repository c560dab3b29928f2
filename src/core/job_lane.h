#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>

#include "core/ui_thread.h"
#include "platform/wake_word.h"

namespace sentrel {

// Blocking work that must not hold the window thread (a mail transfer with
// its dial-up wait, a manual trace or ping): it runs on a helper thread while
// the window thread serves its event loop, as it does for a modal box, so the
// window repaints and other workers' hand-offs keep being served. The jobs
// of one lane never overlap: a job asked for while another one runs (from a
// hand-off served meanwhile) starts once the first has ended.
class JobLane {
 public:
  // `stop` is requested when the job is aborted; the job must end soon after.
  using Job = std::function<void(std::stop_token stop)>;

  explicit JobLane(UiThread& ui);
  // Closes the lane. No Run may be in progress any more.
  ~JobLane();
  JobLane(const JobLane&) = delete;
  JobLane& operator=(const JobLane&) = delete;

  // Window thread. Runs `job` on a helper thread and returns when it has
  // ended, serving the window thread meanwhile. True when the job ran to its
  // end; false when it was aborted, when the window thread's loop was ended
  // for leaving the program (the job is then aborted and waited for), or
  // when the lane was closed (the job never started).
  bool Run(Job job);
  // Any thread: whether a job of this lane is running.
  bool Busy() const;
  // Any thread: asks the job in flight to stop.
  void Abort();
  // Any thread: aborts the job in flight and refuses every later one, for
  // leaving the program.
  void Close();
  // Blocks until the job in flight has left its body, without serving the
  // window thread: only after Abort or Close, for a job whose hand-offs give
  // up on its stop token (so it cannot wait for the caller).
  void WaitForJob() const;
  bool Closed() const { return closed_.load(); }

 private:
  struct Flight {
    // 0 while the job runs, then 1. Not std::atomic::wait: without a futex
    // (MinGW) the standard library can sleep through its notify.
    WakeWord ended;
    std::stop_source stop;
    bool Done() const { return ended.Value() != 0; }
  };

  UiThread& ui_;
  std::atomic<bool> closed_{false};
  mutable std::mutex mutex_;  // guards flight_ for Abort from other threads
  std::shared_ptr<Flight> flight_;
};

}  // namespace sentrel
