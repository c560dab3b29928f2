#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace sentrel::testing {

// Acts on the modal dialog named `name` as soon as it is the one on top, the
// way an operator answers it. Looks every 10 ms for at most 3 s; a dialog
// that never comes fails the test, and whatever modal dialog is up instead
// is closed so that the test cannot hang.
inline void WhenShown(const QString& name, std::function<void(QDialog&)> act) {
  auto* timer = new QTimer;
  auto looks = std::make_shared<int>(0);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, looks, name, act = std::move(act)] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    const bool found = modal && modal->objectName() == name && modal->isVisible();
    if (!found && ++*looks < 300) return;
    timer->stop();
    timer->deleteLater();
    if (found) {
      act(*modal);
      // A dialog that the answer should have ended but did not is closed
      // after a while, so that the test fails instead of hanging.
      QTimer::singleShot(3000, [dialog = QPointer<QDialog>(modal), name] {
        if (!dialog || !dialog->isVisible()) return;
        ADD_FAILURE() << name.toStdString() << " is still open after its answer";
        dialog->done(0);
      });
    } else {
      ADD_FAILURE() << name.toStdString() << " was never shown";
      if (modal) modal->done(0);
    }
  });
  timer->start();
}

// The child of `dialog` named `name`; fails the test when there is none.
template <typename T>
T& Child(QWidget& dialog, const char* name) {
  T* child = dialog.findChild<T*>(name);
  EXPECT_NE(child, nullptr) << name;
  if (!child) throw std::runtime_error(std::string("no child ") + name);
  return *child;
}

}  // namespace sentrel::testing
