#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/socket_notifier.h"

namespace sentrel {

// SocketNotifier on the window thread's event loop: QSocketNotifier for
// readiness, QTimer for time-outs. Callers on any thread only change the
// table below; the Qt objects are made and dropped on the window thread.
class QtSocketNotifier final : public SocketNotifier {
 public:
  QtSocketNotifier();
  ~QtSocketNotifier() override;
  QtSocketNotifier(const QtSocketNotifier&) = delete;
  QtSocketNotifier& operator=(const QtSocketNotifier&) = delete;

  void Watch(int fd, std::function<void()> onReadable) override;
  void SetTimer(int fd, std::chrono::milliseconds delay,
                std::function<void()> onTimeout) override;
  void Unwatch(int fd) override;

 private:
  struct Entry {
    uint64_t generation = 0;  // a new Watch of a reused descriptor is a new entry
    std::function<void()> onReadable;
    std::function<void()> onTimeout;
    std::optional<std::chrono::steady_clock::time_point> deadline;
  };
  // Window thread only.
  struct Gear {
    uint64_t generation = 0;
    QPointer<QSocketNotifier> notifier;
    QPointer<QTimer> timer;
  };

  bool OnWindowThread() const;
  void OnWindowThreadDo(std::function<void()> step);
  void Sync(int fd);
  void Dispatch(int fd, uint64_t generation, bool timeout);
  static void Drop(Gear& gear);

  QObject* context_;
  std::mutex mutex_;
  std::condition_variable idle_;
  std::map<int, Entry> entries_;
  int dispatching_ = -1;
  uint64_t nextGeneration_ = 1;
  std::map<int, Gear> gear_;
};

}  // namespace sentrel
