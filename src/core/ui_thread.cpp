#include "core/ui_thread.h"

#include <memory>

namespace sentrel {

namespace {

enum class StepState { Queued, Running, Done, Abandoned };

struct HandOff {
  std::mutex mutex;
  std::condition_variable_any changed;
  StepState state = StepState::Queued;
};

}  // namespace

bool CallOnUiThread(UiThread& ui, std::function<void()> step, std::stop_token stop) {
  if (ui.IsUiThread()) {
    step();
    return true;
  }
  return AwaitOnUiThread(
             ui,
             [step = std::move(step)](const StepDone& done) {
               step();
               done();
             },
             std::move(stop)) == HandOffEnd::Done;
}

HandOffEnd AwaitOnUiThread(UiThread& ui, std::function<void(StepDone done)> step,
                           std::stop_token stop) {
  auto handOff = std::make_shared<HandOff>();
  StepDone done = [handOff] {
    {
      std::lock_guard lock(handOff->mutex);
      if (handOff->state != StepState::Running) return;
      handOff->state = StepState::Done;
    }
    handOff->changed.notify_all();
  };
  if (ui.IsUiThread()) {
    // Nobody can wait here for a step that ends later: it just starts.
    handOff->state = StepState::Running;
    step(std::move(done));
    return HandOffEnd::Done;
  }
  ui.Post([handOff, step = std::move(step), done = std::move(done)] {
    {
      std::lock_guard lock(handOff->mutex);
      if (handOff->state == StepState::Abandoned) return;
      handOff->state = StepState::Running;
    }
    step(done);
  });

  std::unique_lock lock(handOff->mutex);
  handOff->changed.wait(lock, stop, [&] { return handOff->state == StepState::Done; });
  switch (handOff->state) {
    case StepState::Done:
      return HandOffEnd::Done;
    case StepState::Queued:
      handOff->state = StepState::Abandoned;
      return HandOffEnd::NeverRan;
    default:
      return HandOffEnd::LeftRunning;
  }
}

TaskQueueUiThread::TaskQueueUiThread() : owner_(std::this_thread::get_id()) {}

void TaskQueueUiThread::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  ready_.notify_one();
}

bool TaskQueueUiThread::IsUiThread() const { return std::this_thread::get_id() == owner_; }

int TaskQueueUiThread::RunPending() {
  std::size_t queued = 0;
  {
    std::lock_guard lock(mutex_);
    queued = tasks_.size();
  }
  int ran = 0;
  // Only what was queued when the call began, so that a worker posting
  // without pause cannot hold the caller here; a nested loop may have taken
  // some of them meanwhile.
  for (; queued > 0; --queued) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) break;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
    ++ran;
  }
  return ran;
}

void TaskQueueUiThread::RunFor(std::chrono::milliseconds timeout,
                               const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    RunPending();
    if (done && done()) return;
    std::unique_lock lock(mutex_);
    if (!ready_.wait_until(lock, deadline, [&] { return !tasks_.empty() || woken_; })) return;
    woken_ = false;
  }
}

bool TaskQueueUiThread::ServeUntil(const std::function<bool()>& done) {
  while (!done()) RunFor(std::chrono::hours(1), done);
  return true;
}

void TaskQueueUiThread::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  ready_.notify_one();
}

}  // namespace sentrel
