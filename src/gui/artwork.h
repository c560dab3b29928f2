#pragma once

#include <vector>

#include <QIcon>

namespace sentrel {

enum class TrayImage { First, Stopped, Checking, Lost };

// The program's pictures, compiled into it as SVG so that they are sharp at
// every size and on every screen.
// Registers the compiled-in pictures; call once before the first picture
// (a static library's resources are not registered by themselves).
void InitArtwork();

QIcon ProgramIcon();
QIcon TrayIconImage(TrayImage image);
// The images of the host list: rows 0..5, headers 6..8, the degraded row 9.
std::vector<QIcon> StateImages();
// The six lights of the host dialog's light page: the list's row images.
std::vector<QIcon> HostDialogLights();
// A toolbar picture: the desktop's icon theme where it has `themeName`, our
// own picture otherwise, so that a bare system shows them too.
QIcon ToolbarIcon(const char* themeName, const char* ownName);

}  // namespace sentrel
