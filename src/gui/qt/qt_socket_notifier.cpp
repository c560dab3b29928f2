#include "gui/qt/qt_socket_notifier.h"

#include <QThread>

namespace sentrel {

QtSocketNotifier::QtSocketNotifier() : context_(new QObject) {}

QtSocketNotifier::~QtSocketNotifier() {
  for (auto& [fd, gear] : gear_) Drop(gear);
  delete context_;
}

bool QtSocketNotifier::OnWindowThread() const {
  return QThread::currentThread() == context_->thread();
}

void QtSocketNotifier::OnWindowThreadDo(std::function<void()> step) {
  if (OnWindowThread()) {
    step();
  } else {
    QMetaObject::invokeMethod(context_, std::move(step), Qt::QueuedConnection);
  }
}

void QtSocketNotifier::Watch(int fd, std::function<void()> onReadable) {
  {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_[fd];
    entry = Entry{};
    entry.generation = nextGeneration_++;
    entry.onReadable = std::move(onReadable);
  }
  OnWindowThreadDo([this, fd] { Sync(fd); });
}

void QtSocketNotifier::SetTimer(int fd, std::chrono::milliseconds delay,
                                std::function<void()> onTimeout) {
  {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fd);
    if (it == entries_.end()) return;
    it->second.onTimeout = std::move(onTimeout);
    it->second.deadline = std::chrono::steady_clock::now() + delay;
  }
  OnWindowThreadDo([this, fd] { Sync(fd); });
}

void QtSocketNotifier::Unwatch(int fd) {
  {
    std::unique_lock lock(mutex_);
    entries_.erase(fd);
    // The caller is about to free what the callback uses: from another
    // thread, a callback in progress must end first.
    if (!OnWindowThread()) idle_.wait(lock, [&] { return dispatching_ != fd; });
  }
  OnWindowThreadDo([this, fd] { Sync(fd); });
}

void QtSocketNotifier::Drop(Gear& gear) {
  // deleteLater: Sync may run inside the very signal of the object it drops.
  if (gear.notifier) gear.notifier->deleteLater();
  if (gear.timer) gear.timer->deleteLater();
  gear.notifier = nullptr;
  gear.timer = nullptr;
}

void QtSocketNotifier::Sync(int fd) {
  std::optional<Entry> entry;
  {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fd);
    if (it != entries_.end()) entry = it->second;
  }
  Gear& gear = gear_[fd];
  if (!entry || entry->generation != gear.generation) Drop(gear);
  if (!entry) {
    gear_.erase(fd);
    return;
  }
  gear.generation = entry->generation;
  const uint64_t generation = entry->generation;
  if (!gear.notifier) {
    gear.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, context_);
    QObject::connect(gear.notifier, &QSocketNotifier::activated, context_,
                     [this, fd, generation] { Dispatch(fd, generation, false); });
  }
  if (!entry->deadline) {
    if (gear.timer) gear.timer->stop();
    return;
  }
  if (!gear.timer) {
    gear.timer = new QTimer(context_);
    gear.timer->setSingleShot(true);
    gear.timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(gear.timer, &QTimer::timeout, context_,
                     [this, fd, generation] { Dispatch(fd, generation, true); });
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      *entry->deadline - std::chrono::steady_clock::now());
  gear.timer->start(std::max(left, std::chrono::milliseconds(0)));
}

void QtSocketNotifier::Dispatch(int fd, uint64_t generation, bool timeout) {
  std::function<void()> callback;
  {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fd);
    if (it == entries_.end() || it->second.generation != generation) return;
    if (timeout) {
      callback = std::move(it->second.onTimeout);
      it->second.onTimeout = nullptr;
      it->second.deadline.reset();
    } else {
      callback = it->second.onReadable;
    }
    dispatching_ = fd;
  }
  if (callback) callback();
  {
    std::lock_guard lock(mutex_);
    dispatching_ = -1;
  }
  idle_.notify_all();
}

}  // namespace sentrel
