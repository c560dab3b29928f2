#pragma once

#include <functional>
#include <mutex>
#include <stop_token>

#include "common/clock.h"
#include "core/host_entry.h"
#include "core/monitor_services.h"
#include "platform/small_stack_thread.h"
#include "platform/wake_word.h"

namespace sentrel {

class PingProbe;

// The stop token of the host worker running on this thread; a token that is
// never stopped on any other thread. Code deep inside a check (the result
// handler's hand-offs, the echo library) uses it to give up at once when
// its worker is being ended.
std::stop_token CurrentWorkerStopToken();

// True on a host worker's own thread: only there may a host's own probes be
// used.
bool OnHostWorker();

// Makes `stop` the calling thread's CurrentWorkerStopToken while it lives: a
// helper thread that checks or traces a host for the window thread ("Ping
// now", "Trace now") then gives up its hand-offs and requests as a worker
// being ended does.
class WorkerStopScope {
 public:
  explicit WorkerStopScope(std::stop_token stop);
  ~WorkerStopScope();
  WorkerStopScope(const WorkerStopScope&) = delete;
  WorkerStopScope& operator=(const WorkerStopScope&) = delete;

 private:
  std::stop_token stop_;
  const std::stop_token* outer_;
};

// Hands the host's settings to its probe: dataSize (PBS when above 0), timeout,
// ttl (PTTL when above 0), tos, targetText = HostIP, tag = HostName.
void ApplyProbeSettings(const HostEntry& host, PingProbe& probe);

// One scheduled check of the host on the calling thread: WasChecked, the name
// lookup when PingByIP is false ("??.??.??" when it fails), then requests
// until one is answered or Retries have failed in a row. Gives up between
// requests when `stop` is requested. FailCount is 0 afterwards.
void RunScheduledCheck(HostEntry& host, PingProbe& probe, std::stop_token stop);

// The thread of one host: created paused, it runs the host's check loop while
// resumed and ends when told to. Pausing and resuming never block: a pause
// takes effect only at the loop's pause point or at a wait, never during a
// check, so the window thread never waits for a worker that may itself be
// waiting for the window thread. Its stack is small (many hosts, many threads).
class HostWorker {
 public:
  // Runs one check; `stop` is requested when the worker is being ended.
  using Check = std::function<void(std::stop_token stop)>;
  static constexpr std::size_t kStackSize = 256 * 1024;
  // How late a worker's timed waits may end, as a share of its wait cycle
  // (and at most kMaxWakeSlack): the system then ends several workers'
  // waits with one timer interrupt, which costs a thousand workers far less
  // than one interrupt each, and the interval stays within 1 %.
  static constexpr int kWakeSlackPerCycle = 100;
  static constexpr std::chrono::milliseconds kMaxWakeSlack{50};

  // `pinging` is the program's switch; it and `clock` must outlive the worker.
  HostWorker(HostEntry& host, const Clock& clock, const std::atomic<bool>& pinging,
             WorkerTiming timing, Check check);
  // Ends the worker and waits for it (bounded by the check in progress).
  ~HostWorker();
  HostWorker(const HostWorker&) = delete;
  HostWorker& operator=(const HostWorker&) = delete;

  void Pause();
  void Resume();
  bool Paused() const;
  // Ends the wait in progress with a check, whatever the schedule says (a
  // parent that answers again has its held hosts checked). A paused worker
  // checks only once resumed. Never blocks.
  void CheckNow();
  // Tells the worker to end and wakes it; returns at once. A hand-off it is
  // blocked in gives up. Join waits for the thread.
  void RequestEnd();
  void Join();
  // False when the system refused a thread: the host is then never checked.
  bool Started() const { return started_; }

 private:
  static void Start(void* self);
  void Loop();
  // The pause point: true when resumed, false when ended.
  bool WaitWhilePaused(std::unique_lock<std::mutex>& lock);
  // Bumps the wake word and wakes the worker (after a change under mutex_).
  void Alert();
  // The wait cycle: waitsPerCycle waits, each ended early by a pause, which
  // holds the worker until resumed; only while checks run. False when ended.
  bool WaitCycle();
  std::chrono::milliseconds WaitLength() const;

  HostEntry& host_;
  const Clock& clock_;
  const std::atomic<bool>& pinging_;
  const WorkerTiming timing_;
  const Check check_;
  std::stop_source stop_;
  mutable std::mutex mutex_;
  // Bumped on every change of the state below and when the worker is ended.
  WakeWord wake_;
  bool paused_ = true;
  // Pauses asked for so far, and how many of them the loop has taken.
  unsigned pauses_ = 0;
  unsigned seenPauses_ = 0;
  bool checkNow_ = false;
  bool started_ = false;
  bool joined_ = false;
  std::chrono::microseconds slack_{-1};  // the worker thread's, as last set
  SmallStackThread thread_;
};

}  // namespace sentrel
