#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace sentrel {

class Registry;

// The main window's placement and whether checks ran, as kept between runs.
// Plain data: the window copies itself in and out.
struct WindowPlacement {
  bool PlacementLoaded = false;
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t ListHeight = 0;
  std::array<int32_t, 5> ColWidth{};  // Col1Width .. Col5Width
  bool Visible = false;
  bool ShowParent = false;  // the list shows its "Parent" column ("ShowParent", only once set)
  bool Captured = false;  // CapturePlacement ran at least once this run
};

// The column widths that a missing or zero stored width takes.
inline constexpr std::array<int32_t, 5> kDefaultColumnWidths{100, 100, 80, 80, 80};

// LoadPlacement: reads the key when it exists (PlacementLoaded then true).
// Numbers are parsed leniently ("+"/"-", digits up to the first other
// character, a leading blank gives 0); "Visible" is false only for exactly
// "0"; `pinging` becomes true only for "isPinging" exactly "1", and stays
// false when the key is missing.
WindowPlacement LoadPlacement(const Registry& registry, bool& pinging);

// SavePlacement: writes every value as decimal text, then "Visible" and
// "isPinging" as "1" or "0". The caller saves the registry file.
void SavePlacement(const WindowPlacement& placement, bool pinging, Registry& registry);

// Whether the placement stored at the end of the session is taken from the
// window at that moment: yes while it is shown (minimised to the taskbar
// included) and when nothing was captured or loaded before; a window hidden
// in the tray keeps what was captured when it was hidden.
bool CaptureAtSessionEnd(const WindowPlacement& placement, bool windowShown);

struct ScreenRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// The window rectangle to use at start: the stored one, unless it would leave
// the window unusable (no width or height, or wholly outside every screen);
// then the built-in rectangle, placed on the primary screen (screens[0]).
ScreenRect UsableWindowRect(const WindowPlacement& placement, const std::vector<ScreenRect>& screens,
                            const ScreenRect& builtIn);

// What the first start's placement is computed from, measured in the
// window's font and style (pixels).
struct ListMeasures {
  // Each column's header and widest sample text, whole.
  std::array<int32_t, 5> columnNeeded{};
  int32_t rowHeight = 0;
  int32_t headerHeight = 0;
  // The list's frame and vertical scroll bar: width beside the columns.
  int32_t listFrameWidth = 0;
  // The list's frame: height beside the header and the rows.
  int32_t listFrameHeight = 0;
  // The window's height beside the list and the log pane (menu bar,
  // toolbar, status bar, splitter handle) and its width beside the list.
  int32_t chromeHeight = 0;
  int32_t chromeWidth = 0;
  // The window manager's frame as far as it can be told before the window
  // is shown: its width beside the window, its height above and below, and
  // the part above (the title bar).
  int32_t frameWidth = 0;
  int32_t frameHeight = 0;
  int32_t frameTop = 0;
};

struct FirstStartLayout {
  ScreenRect window;  // absolute, centred on the primary screen
  int32_t listHeight = 0;
  std::array<int32_t, 5> columns{};
};

// The rows the list shows at the first start, at least.
inline constexpr int32_t kFirstStartRows = 12;

// The placement without a stored one: every column whole, the list showing
// kFirstStartRows rows and taking two thirds of the height that list and log
// pane share, the window with its frame centred on `primary` (its usable
// area). On a screen too small for that the window with its frame fills the
// screen, the list keeping its two thirds. `window` is the inside of the
// frame.
FirstStartLayout FirstStartPlacement(const ListMeasures& measures, const ScreenRect& primary);

}  // namespace sentrel
