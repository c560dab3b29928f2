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
  auto handOff = std::make_shared<HandOff>();
  ui.Post([handOff, step = std::move(step)] {
    {
      std::lock_guard lock(handOff->mutex);
      if (handOff->state == StepState::Abandoned) return;
      handOff->state = StepState::Running;
    }
    step();
    {
      std::lock_guard lock(handOff->mutex);
      handOff->state = StepState::Done;
    }
    handOff->changed.notify_all();
  });

  std::unique_lock lock(handOff->mutex);
  handOff->changed.wait(lock, stop, [&] { return handOff->state == StepState::Done; });
  if (handOff->state == StepState::Done) return true;
  if (handOff->state == StepState::Queued) handOff->state = StepState::Abandoned;
  return false;
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
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(tasks_);
  }
  for (auto& task : batch) task();
  return static_cast<int>(batch.size());
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
