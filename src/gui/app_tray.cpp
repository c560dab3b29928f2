#include "gui/app_tray.h"

#include <QCursor>

namespace sentrel {

AppTray::AppTray(TrayActions actions, QObject* parent)
    : QObject(parent), actions_(std::move(actions)) {
  menu_.setObjectName("TrayMenu");
  restore_ = menu_.addAction(captions_.restore, [this] { actions_.restore(); });
  QFont bold = restore_->font();
  bold.setBold(true);
  restore_->setFont(bold);
  menu_.setDefaultAction(restore_);
  ping_ = menu_.addAction(captions_.ping, [this] { actions_.setPinging(!actions_.pinging()); });
  menu_.addSeparator();
  stopSounds_ = menu_.addAction(captions_.stopSounds, [this] { actions_.stopSounds(); });
  menu_.addSeparator();
  help_ = menu_.addAction(captions_.help, [this] { actions_.help(); });
  about_ = menu_.addAction(captions_.about, [this] { actions_.about(); });
  menu_.addSeparator();
  exit_ = menu_.addAction(captions_.exit, [this] { actions_.exit(); });
  restore_->setObjectName("TrayRestore");
  ping_->setObjectName("TrayPing");
  stopSounds_->setObjectName("TrayStopWAV");
  help_->setObjectName("TrayHelp");
  about_->setObjectName("TrayAbout");
  exit_->setObjectName("TrayExit");
  connect(&menu_, &QMenu::aboutToShow, this, [this] { UpdateMenu(); });
  icon_.setIcon(TrayIconImage(image_));
  icon_.setToolTip("Sentrel");
  connect(&icon_, &QSystemTrayIcon::activated, this, &AppTray::HandleActivation);
}

bool AppTray::ApplyTrayMode(bool minToTray) {
  minToTray_ = minToTray;
  // Shown even while no notification area exists yet (the desktop's panel
  // may start after the program): the icon docks as soon as one appears.
  icon_.setVisible(minToTray);
  return Shown();
}

bool AppTray::Shown() const {
  return minToTray_ && QSystemTrayIcon::isSystemTrayAvailable();
}

bool AppTray::MinimiseToTray() {
  if (Shown()) return true;
  if (minToTray_ && !missingSaid_) {
    missingSaid_ = true;
    if (actions_.notice)
      actions_.notice("This desktop has no notification area: the window minimises to the taskbar.\r\n");
  }
  return false;
}

void AppTray::SetImage(TrayImage image) {
  if (image == image_) return;
  image_ = image;
  icon_.setIcon(TrayIconImage(image));
}

void AppTray::SetCaptions(const TrayCaptions& captions) {
  captions_ = captions;
  restore_->setText(captions.restore);
  stopSounds_->setText(captions.stopSounds);
  help_->setText(captions.help);
  about_->setText(captions.about);
  exit_->setText(captions.exit);
  UpdateMenu();
}

void AppTray::UpdateMenu() {
  ping_->setText(actions_.pinging() ? captions_.stop : captions_.ping);
  stopSounds_->setEnabled(actions_.multPlayWav());
}

void AppTray::HandleActivation(QSystemTrayIcon::ActivationReason reason) {
  if (actions_.mainWindowVisible()) {
    actions_.bringToFront();
    return;
  }
  if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
    actions_.restore();
  } else if (reason == QSystemTrayIcon::Context) {
    UpdateMenu();
    menu_.popup(QCursor::pos());
  }
}

}  // namespace sentrel
