#include "core/transfer_queue.h"

#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace sentrel {

struct TransferQueue::Core : std::enable_shared_from_this<Core> {
  struct Entry {
    Job job;
    Done done;
  };
  struct Flight {
    std::stop_source stop;
    std::thread thread;
    Done done;
  };

  explicit Core(UiThread& window) : ui(window) {}

  // Under `mutex`: starts the next waiting job when nothing is in flight.
  void StartNext() {
    if (flight || waiting.empty() || closed) return;
    Entry entry = std::move(waiting.front());
    waiting.pop_front();
    flight = std::make_shared<Flight>();
    flight->done = std::move(entry.done);
    auto self = shared_from_this();
    auto f = flight;
    f->thread = std::thread([self, f, job = std::move(entry.job)] {
      const bool ok = job(f->stop.get_token());
      self->ui.Post([self, f, ok] { self->Finished(f, ok); });
    });
  }

  // Window thread, after the job's thread has left the job.
  void Finished(const std::shared_ptr<Flight>& ended, bool ok) {
    if (ended->thread.joinable()) ended->thread.join();
    {
      std::lock_guard lock(mutex);
      if (flight == ended) flight.reset();
      StartNext();
    }
    if (!gone && ended->done) ended->done(ok && !ended->stop.stop_requested());
  }

  // Runs `done(false)` on the window thread, unless the queue has gone.
  void Refuse(Done done) {
    if (!done) return;
    auto self = shared_from_this();
    ui.Post([self, done = std::move(done)] {
      if (!self->gone) done(false);
    });
  }

  UiThread& ui;
  mutable std::mutex mutex;
  std::deque<Entry> waiting;
  std::shared_ptr<Flight> flight;
  bool closed = false;
  bool gone = false;  // window thread only
};

TransferQueue::TransferQueue(UiThread& ui) : core_(std::make_shared<Core>(ui)) {}

TransferQueue::~TransferQueue() {
  Close();
  core_->gone = true;
  std::shared_ptr<Core::Flight> flight;
  {
    std::lock_guard lock(core_->mutex);
    flight = core_->flight;
  }
  if (flight && flight->thread.joinable()) flight->thread.join();
}

void TransferQueue::Add(Job job, Done done) {
  {
    std::lock_guard lock(core_->mutex);
    if (!core_->closed) {
      core_->waiting.push_back({std::move(job), std::move(done)});
      core_->StartNext();
      return;
    }
  }
  core_->Refuse(std::move(done));
}

bool TransferQueue::Busy() const {
  std::lock_guard lock(core_->mutex);
  return core_->flight || !core_->waiting.empty();
}

void TransferQueue::Close() {
  std::deque<Core::Entry> dropped;
  {
    std::lock_guard lock(core_->mutex);
    core_->closed = true;
    if (core_->flight) core_->flight->stop.request_stop();
    dropped.swap(core_->waiting);
  }
  for (auto& entry : dropped) core_->Refuse(std::move(entry.done));
}

bool TransferQueue::Closed() const {
  std::lock_guard lock(core_->mutex);
  return core_->closed;
}

}  // namespace sentrel
