#pragma once

#include <QObject>

class QWidget;

namespace sentrel {

// Whether the desktop's taskbar lists the program's windows. While the tray
// icon stands in for the program none of them is listed: not the main
// window, whatever shows it, nor any other window of the program (dialogs,
// message boxes, help, history). A window without an owner is made
// transient for the main window while that is shown, so that it stays with
// it. Window thread only; watches every window of the application while it
// lives.
class TaskbarListing final : public QObject {
 public:
  explicit TaskbarListing(QWidget& mainWindow);
  ~TaskbarListing() override;

  // Changes the listing of every window, the shown ones at once.
  void SetListed(bool listed);
  bool Listed() const { return listed_; }
  // Shows the main window normal again after it was minimised or hidden in
  // the tray.
  void RestoreMainWindow();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& main_;
  bool listed_ = true;
};

}  // namespace sentrel
