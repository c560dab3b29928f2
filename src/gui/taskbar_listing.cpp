#include "gui/taskbar_listing.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

#include "gui/qt/taskbar_entry.h"

namespace sentrel {

namespace {

// Windows that a taskbar could list; menus, tooltips and the like never are,
// nor the frameless window that the tray icon embeds in the notification area.
bool IsProgramWindow(const QWidget& widget) {
  const Qt::WindowType type = widget.windowType();
  return widget.isWindow() && (type == Qt::Window || type == Qt::Dialog) &&
         !widget.windowFlags().testFlag(Qt::FramelessWindowHint);
}

}  // namespace

TaskbarListing::TaskbarListing(QWidget& mainWindow) : main_(mainWindow) {
  qApp->installEventFilter(this);
}

TaskbarListing::~TaskbarListing() { qApp->removeEventFilter(this); }

void TaskbarListing::SetListed(bool listed) {
  listed_ = listed;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (IsProgramWindow(*window)) ChangeTaskbarEntry(*window, listed);
  }
}

void TaskbarListing::RestoreMainWindow() {
  // Leaving the minimised state maps the window at once, before any show
  // event: the window manager must find the mark already there.
  MarkTaskbarEntry(main_, listed_);
  main_.showNormal();
  main_.raise();
  main_.activateWindow();
}

bool TaskbarListing::eventFilter(QObject* watched, QEvent* event) {
  // The show event comes before the window is mapped, which is when the
  // window manager reads the mark.
  if (event->type() != QEvent::Show || !watched->isWidgetType()) return false;
  auto& widget = static_cast<QWidget&>(*watched);
  if (!IsProgramWindow(widget)) return false;
  if (&widget != &main_ && !widget.parentWidget() && main_.isVisible()) {
    QWindow* window = widget.windowHandle();
    if (!window) {
      widget.winId();
      window = widget.windowHandle();
    }
    if (window) window->setTransientParent(main_.windowHandle());
  }
  MarkTaskbarEntry(widget, listed_);
  return false;
}

}  // namespace sentrel
