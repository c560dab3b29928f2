#pragma once

#include <QObject>
#include <vector>

#include "core/ui_thread.h"

class QEventLoop;

namespace sentrel {

// The window thread of the Qt shell: steps are posted to the thread that
// created this object through its event loop, so a modal box's local loop
// serves them too. The blocking hand-off and its give-up rule are those of
// CallOnUiThread; this class only queues.
class QtUiThread final : public UiThread {
 public:
  QtUiThread();
  ~QtUiThread() override;

  void Post(std::function<void()> task) override;
  bool IsUiThread() const override;
  // A local QEventLoop per wait. Leaving the program (QCoreApplication::quit)
  // ends every loop, so the wait then returns false at once.
  bool ServeUntil(const std::function<bool()>& done) override;

 private:
  struct Waiter {
    const std::function<bool()>* done;
    QEventLoop* loop;
  };
  // After each posted step: ends the local loops whose condition now holds.
  void WakeWaiters();

  QObject* receiver_;  // lives on the window thread; steps run in its context
  std::vector<Waiter> waiters_;  // nested waits, innermost last
};

}  // namespace sentrel
