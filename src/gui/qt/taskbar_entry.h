#pragma once

class QWidget;

namespace sentrel {

// Whether the desktop's taskbar lists a top-level window. On Windows a
// window without an entry is a tool window. Of the others only an X11
// desktop with a window manager that follows the extended hints can be
// asked; elsewhere both calls do nothing and the window keeps its entry.
//
// A window manager forgets the wish whenever the window is hidden, so it is
// marked again before each showing (MarkTaskbarEntry, from showEvent) and
// changed while shown (ChangeTaskbarEntry).
void MarkTaskbarEntry(QWidget& window, bool listed);
void ChangeTaskbarEntry(QWidget& window, bool listed);

}  // namespace sentrel
