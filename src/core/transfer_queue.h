#pragma once

#include <functional>
#include <memory>
#include <stop_token>

#include "core/ui_thread.h"

namespace sentrel {

// Blocking transfers (a mail with its dial-up wait) run one after another on
// a helper thread, and each reports back to the window thread when it has
// ended: the window thread never waits for one, so it keeps serving every
// worker's hand-off while a mail server stalls. Transfers never overlap.
class TransferQueue {
 public:
  // Returns whether the transfer succeeded; `stop` is requested when it is
  // aborted, and it must then end soon.
  using Job = std::function<bool(std::stop_token stop)>;
  // Runs on the window thread with the job's result, false when the job was
  // aborted or never ran.
  using Done = std::function<void(bool ok)>;

  explicit TransferQueue(UiThread& ui);
  // Closes the queue and waits for the job in flight, which is aborted. No
  // `done` runs afterwards. Window thread.
  ~TransferQueue();
  TransferQueue(const TransferQueue&) = delete;
  TransferQueue& operator=(const TransferQueue&) = delete;

  // Window thread: queues `job`, which starts once those before it have
  // ended. Once closed, `done` gets false (later, on the window thread).
  void Add(Job job, Done done);
  // Any thread: whether a job runs or waits.
  bool Busy() const;
  // Any thread: aborts the job in flight, drops those waiting (their `done`
  // gets false) and refuses later ones, for leaving the program.
  void Close();
  bool Closed() const;

 private:
  struct Core;
  std::shared_ptr<Core> core_;
};

}  // namespace sentrel
