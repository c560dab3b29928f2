#include "gui/artwork.h"

// Outside any namespace, as the resource initialiser must be.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace sentrel {

void InitArtwork() { InitIconResources(); }

namespace {

QIcon Own(const QString& name) { return QIcon(":/icons/" + name + ".svg"); }

}  // namespace

QIcon ProgramIcon() { return Own("program"); }

QIcon TrayIconImage(TrayImage image) {
  switch (image) {
    case TrayImage::First:
      return Own("tray-first");
    case TrayImage::Stopped:
      return Own("tray-stopped");
    case TrayImage::Checking:
      return Own("tray-ok");
    case TrayImage::Lost:
      return Own("tray-lost");
  }
  return ProgramIcon();
}

std::vector<QIcon> StateImages() {
  return {Own("state-0-unchecked"), Own("state-1-light"), Own("state-2-light"),
          Own("state-3-light"),     Own("state-4-light"), Own("state-5-lost"),
          Own("header-none"),       Own("header-ascending"), Own("header-descending"),
          Own("state-9-unreachable"), Own("state-10-degraded")};
}

std::vector<QIcon> HostDialogLights() {
  std::vector<QIcon> lights = StateImages();
  lights.resize(6);
  return lights;
}

QIcon ToolbarIcon(const char* themeName, const char* ownName) {
  return QIcon::fromTheme(themeName, Own(ownName));
}

}  // namespace sentrel
