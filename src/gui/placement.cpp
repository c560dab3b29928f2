#include "gui/placement.h"

#include <algorithm>
#include <optional>
#include <string>

#include "common/lenient_int.h"
#include "platform/registry.h"
#include "settings/options.h"

namespace sentrel {

namespace {

constexpr std::array<const char*, 5> kColumnNames{"Col1Width", "Col2Width", "Col3Width",
                                                  "Col4Width", "Col5Width"};

// A value that is missing or not a string reads as an empty text, i.e. 0.
int32_t ReadNumber(const Registry& registry, const char* name) {
  return ParseLenientInt(registry.GetString(kMainFormKey, name).value_or(""));
}

bool Overlaps(const ScreenRect& a, const ScreenRect& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
         b.top < a.top + a.height;
}

}  // namespace

WindowPlacement LoadPlacement(const Registry& registry, bool& pinging) {
  WindowPlacement p;
  pinging = false;
  if (registry.ValueNames(kMainFormKey).empty()) return p;
  p.PlacementLoaded = true;
  p.Left = ReadNumber(registry, "Left");
  p.Top = ReadNumber(registry, "Top");
  p.Width = ReadNumber(registry, "Width");
  p.Height = ReadNumber(registry, "Height");
  p.ListHeight = ReadNumber(registry, "ListHeight");
  for (std::size_t i = 0; i < kColumnNames.size(); ++i) {
    p.ColWidth[i] = ReadNumber(registry, kColumnNames[i]);
    if (p.ColWidth[i] == 0) p.ColWidth[i] = kDefaultColumnWidths[i];
  }
  pinging = LoadPinging(registry);
  p.Visible = registry.GetString(kMainFormKey, "Visible") != std::optional<std::string>("0");
  p.ShowParent = registry.GetString(kMainFormKey, "ShowParent") == std::optional<std::string>("1");
  return p;
}

void SavePlacement(const WindowPlacement& p, bool pinging, Registry& registry) {
  const auto put = [&](const char* name, int32_t value) {
    registry.SetString(kMainFormKey, name, std::to_string(value), RegistryWrite::kAlways);
  };
  put("Left", p.Left);
  put("Top", p.Top);
  put("Width", p.Width);
  put("Height", p.Height);
  put("ListHeight", p.ListHeight);
  for (std::size_t i = 0; i < kColumnNames.size(); ++i) put(kColumnNames[i], p.ColWidth[i]);
  registry.SetString(kMainFormKey, "Visible", p.Visible ? "1" : "0", RegistryWrite::kAlways);
  // Written once the column was shown, so that a key of an older version
  // keeps its values as they were.
  if (p.ShowParent || registry.GetString(kMainFormKey, "ShowParent"))
    registry.SetString(kMainFormKey, "ShowParent", p.ShowParent ? "1" : "0", RegistryWrite::kAlways);
  SavePinging(pinging, registry);
}

bool CaptureAtSessionEnd(const WindowPlacement& p, bool windowShown) {
  // Never store zeros for a window that was never captured nor restored.
  return windowShown || (!p.Captured && !p.PlacementLoaded);
}

ScreenRect UsableWindowRect(const WindowPlacement& p, const std::vector<ScreenRect>& screens,
                            const ScreenRect& builtIn) {
  const ScreenRect stored{p.Left, p.Top, p.Width, p.Height};
  if (p.Width > 0 && p.Height > 0) {
    for (const ScreenRect& screen : screens) {
      if (Overlaps(stored, screen)) return stored;
    }
  }
  if (screens.empty()) return builtIn;
  // The built-in position is relative to the primary screen's corner, pulled
  // back inside it when that screen is too small to hold it.
  const ScreenRect& primary = screens.front();
  ScreenRect r = builtIn;
  r.left = primary.left + std::max(0, std::min(builtIn.left, primary.width - builtIn.width));
  r.top = primary.top + std::max(0, std::min(builtIn.top, primary.height - builtIn.height));
  return r;
}

FirstStartLayout FirstStartPlacement(const ListMeasures& m, const ScreenRect& primary) {
  FirstStartLayout layout;
  layout.columns = m.columnNeeded;
  int32_t listWidth = m.listFrameWidth;
  for (const int32_t width : m.columnNeeded) listWidth += width;
  const int32_t listHeight = m.listFrameHeight + m.headerHeight + kFirstStartRows * m.rowHeight;
  // The log pane takes the other third.
  const int32_t shared = listHeight + listHeight / 2;

  const int32_t width = std::min(listWidth + m.chromeWidth, std::max(primary.width - m.frameWidth, 1));
  const int32_t height =
      std::min(shared + m.chromeHeight, std::max(primary.height - m.frameHeight, 1));
  layout.listHeight = std::min(listHeight, std::max(height - m.chromeHeight, 0) * 2 / 3);
  const int32_t outerLeft = primary.left + std::max(primary.width - width - m.frameWidth, 0) / 2;
  const int32_t outerTop = primary.top + std::max(primary.height - height - m.frameHeight, 0) / 2;
  layout.window = {outerLeft + m.frameWidth / 2, outerTop + m.frameTop, width, height};
  return layout;
}

}  // namespace sentrel
