#include "gui/qt/qt_ui_thread.h"

#include <QEventLoop>
#include <QThread>

namespace sentrel {

QtUiThread::QtUiThread() : receiver_(new QObject) {}

QtUiThread::~QtUiThread() {
  // Steps still queued die with the receiver; their workers have given up.
  delete receiver_;
}

void QtUiThread::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(
      receiver_,
      [this, task = std::move(task)] {
        task();
        WakeWaiters();
      },
      Qt::QueuedConnection);
}

bool QtUiThread::IsUiThread() const { return QThread::currentThread() == receiver_->thread(); }

void QtUiThread::WakeWaiters() {
  // An outer wait that is done ends as soon as the inner ones have returned.
  for (const Waiter& waiter : waiters_) {
    if ((*waiter.done)()) waiter.loop->quit();
  }
}

bool QtUiThread::ServeUntil(const std::function<bool()>& done) {
  if (done()) return true;
  QEventLoop loop;
  waiters_.push_back({&done, &loop});
  loop.exec();
  waiters_.pop_back();
  return done();
}

}  // namespace sentrel
