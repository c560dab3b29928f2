#pragma once

#include <functional>

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include "gui/artwork.h"

namespace sentrel {

// What the tray icon and its menu do; the application fills these in.
struct TrayActions {
  std::function<bool()> mainWindowVisible;
  std::function<void()> bringToFront;
  std::function<void()> restore;
  std::function<bool()> pinging;
  std::function<void(bool)> setPinging;
  std::function<bool()> multPlayWav;
  std::function<void()> stopSounds;
  std::function<void()> help;
  std::function<void()> about;
  std::function<void()> exit;
  // One line for the log pane (no notification area on this desktop).
  std::function<void(const std::string&)> notice;
};

// The captions of the tray menu that the main window hands over whenever it
// applies the language.
struct TrayCaptions {
  QString restore = "Restore";
  QString ping = "Ping";
  QString stop = "Stop";
  QString stopSounds = "Stop all sounds";
  QString help = "Help";
  QString about = "About";
  QString exit = "Exit";
};

// The notification-area icon with its menu. Shown only while MinToTray is
// set and the desktop has a notification area; Qt puts it back by itself
// when the notification area restarts.
class AppTray final : public QObject {
 public:
  explicit AppTray(TrayActions actions, QObject* parent = nullptr);

  // Shows or removes the icon by MinToTray. Returns Shown().
  bool ApplyTrayMode(bool minToTray);
  // Whether the icon is on the screen: MinToTray is set and the desktop has
  // a notification area right now.
  bool Shown() const;
  // Whether minimising may hide the window: only while the icon is shown, so
  // that the window is never lost. A desktop without a notification area is
  // said once through `notice`.
  bool MinimiseToTray();

  void SetImage(TrayImage image);
  TrayImage Image() const { return image_; }
  void SetCaptions(const TrayCaptions& captions);
  void SetToolTip(const QString& text) { icon_.setToolTip(text); }

  // The icon's mouse rules: with the main window visible any click brings it
  // to the front; otherwise a left click restores it and a right click opens
  // the menu.
  void HandleActivation(QSystemTrayIcon::ActivationReason reason);
  // Captions and enabling as they are each time the menu opens.
  void UpdateMenu();
  QMenu& Menu() { return menu_; }

 private:
  TrayActions actions_;
  TrayCaptions captions_;
  QSystemTrayIcon icon_;
  QMenu menu_;
  QAction* restore_;
  QAction* ping_;
  QAction* stopSounds_;
  QAction* help_;
  QAction* about_;
  QAction* exit_;
  TrayImage image_ = TrayImage::First;
  bool minToTray_ = false;
  bool missingSaid_ = false;
};

}  // namespace sentrel
