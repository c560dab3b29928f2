#include "gui/qt/qt_ui_thread.h"

#include <QThread>

namespace sentrel {

QtUiThread::QtUiThread() : receiver_(new QObject) {}

QtUiThread::~QtUiThread() {
  // Steps still queued die with the receiver; their workers have given up.
  delete receiver_;
}

void QtUiThread::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(receiver_, std::move(task), Qt::QueuedConnection);
}

bool QtUiThread::IsUiThread() const { return QThread::currentThread() == receiver_->thread(); }

}  // namespace sentrel
