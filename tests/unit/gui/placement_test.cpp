#include "gui/placement.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "settings/options.h"
#include "fakes/test_files.h"

namespace sentrel {
namespace {

class PlacementTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  Registry registry{dir.Path() + "/registry.reg"};
  void Put(const char* name, const char* value) { registry.SetString(kMainFormKey, name, value); }
};

TEST_F(PlacementTest, MissingKeyLeavesEverythingZeroAndStopped) {
  bool pinging = true;
  const WindowPlacement p = LoadPlacement(registry, pinging);
  EXPECT_FALSE(p.PlacementLoaded);
  EXPECT_FALSE(pinging);
  EXPECT_EQ(p.Width, 0);
  EXPECT_EQ(p.ColWidth[0], 0);
}

TEST_F(PlacementTest, ValuesParseLenientlyAndOnlyExactOneMeansPinging) {
  const struct {
    const char* isPinging;
    bool expected;
  } cases[] = {{"1", true}, {"true", false}, {" 1", false}, {"01", false}, {"0", false}, {"", false}};
  for (const auto& c : cases) {
    Put("isPinging", c.isPinging);
    Put("Left", "-1280");
    Put("Top", " 40");
    Put("Width", "+640px");
    Put("Col3Width", "abc");
    bool pinging = !c.expected;
    const WindowPlacement p = LoadPlacement(registry, pinging);
    EXPECT_EQ(pinging, c.expected) << '"' << c.isPinging << '"';
    EXPECT_TRUE(p.PlacementLoaded);
    EXPECT_EQ(p.Left, -1280);
    EXPECT_EQ(p.Top, 0);  // a leading blank reads as 0
    EXPECT_EQ(p.Width, 640);
    EXPECT_EQ(p.ColWidth, (std::array<int32_t, 5>{100, 100, 80, 80, 80}));
    EXPECT_TRUE(p.Visible);  // missing "Visible" shows the window
  }
}

TEST_F(PlacementTest, VisibleIsFalseOnlyForExactZero) {
  for (const auto& [text, visible] : {std::pair{"0", false}, {"", true}, {" 0", true}, {"no", true}}) {
    Put("Visible", text);
    bool pinging = false;
    EXPECT_EQ(LoadPlacement(registry, pinging).Visible, visible) << '"' << text << '"';
  }
}

TEST_F(PlacementTest, SaveAndLoadRoundTripThroughTheFile) {
  WindowPlacement p;
  p.Left = -1500;
  p.Top = 20;
  p.Width = 700;
  p.Height = 400;
  p.ListHeight = 150;
  p.ColWidth = {90, 200, 70, 60, 300};
  p.Visible = false;
  SavePlacement(p, true, registry);
  ASSERT_TRUE(registry.Save());

  Registry again(registry.Path());
  ASSERT_TRUE(again.Load());
  bool pinging = false;
  const WindowPlacement back = LoadPlacement(again, pinging);
  EXPECT_TRUE(pinging);
  EXPECT_EQ(back.Left, -1500);
  EXPECT_EQ(back.Height, 400);
  EXPECT_EQ(back.ListHeight, 150);
  EXPECT_EQ(back.ColWidth, p.ColWidth);
  EXPECT_FALSE(back.Visible);
  EXPECT_EQ(again.GetString(kMainFormKey, "Visible"), "0");
}

TEST(UsableWindowRect, UnusableStoredPlacementsTakeTheBuiltInOneOnThePrimaryScreen) {
  const std::vector<ScreenRect> screens{{0, 0, 1280, 800}, {-1920, 0, 1920, 1080}};
  const ScreenRect builtIn{298, 164, 493, 302};
  WindowPlacement p;
  p.PlacementLoaded = true;
  p.Left = -1500, p.Top = 100, p.Width = 600, p.Height = 400;
  EXPECT_EQ(UsableWindowRect(p, screens, builtIn).left, -1500);  // on the left monitor

  for (const auto& [w, h, x] : {std::tuple{0, 400, 10}, {600, -5, 10}, {600, 400, 5000}}) {
    p.Left = x, p.Top = 10, p.Width = w, p.Height = h;
    const ScreenRect r = UsableWindowRect(p, screens, builtIn);
    EXPECT_EQ(r.left, 298);
    EXPECT_EQ(r.width, 493);
  }
  // A primary screen smaller than the built-in place pulls the window inside it.
  const ScreenRect r = UsableWindowRect(p, {{100, 50, 600, 300}}, builtIn);
  EXPECT_EQ(r.left, 100 + 600 - 493);
  EXPECT_EQ(r.top, 50);
}

TEST(CaptureAtSessionEnd, TheShownWindowIsTakenAsItIsAndTheHiddenOneAsLastCaptured) {
  const struct {
    bool loaded, captured, shown, capture;
  } cases[] = {
      // Shown (moved since the last minimise, or never minimised): now.
      {true, true, true, true},
      {true, false, true, true},
      {false, false, true, true},
      // Hidden in the tray: what was captured on hiding, or what was loaded.
      {true, true, false, false},
      {false, true, false, false},
      {true, false, false, false},
      // Nothing at all to store: the window as it is rather than zeros.
      {false, false, false, true},
  };
  for (const auto& c : cases) {
    WindowPlacement p;
    p.PlacementLoaded = c.loaded;
    p.Captured = c.captured;
    EXPECT_EQ(CaptureAtSessionEnd(p, c.shown), c.capture)
        << "loaded " << c.loaded << " captured " << c.captured << " shown " << c.shown;
  }
}

class FirstStartPlacementTest : public ::testing::Test {
 protected:
  ListMeasures measures{.columnNeeded = {260, 190, 70, 70, 180},
                        .rowHeight = 18,
                        .headerHeight = 20,
                        .listFrameWidth = 2 + 14,
                        .listFrameHeight = 2,
                        .chromeHeight = 80,
                        .chromeWidth = 0,
                        .frameWidth = 10,
                        .frameHeight = 29,
                        .frameTop = 24};
};

TEST_F(FirstStartPlacementTest, TwelveRowsEveryColumnWholeTwoThirdsCentred) {
  const ScreenRect screen{1280, 24, 1920, 1056};  // a primary screen right of another
  const FirstStartLayout layout = FirstStartPlacement(measures, screen);
  EXPECT_EQ(layout.columns, measures.columnNeeded);
  EXPECT_EQ(layout.window.width, 260 + 190 + 70 + 70 + 180 + 16);
  EXPECT_EQ(layout.listHeight, 2 + 20 + kFirstStartRows * 18);
  const int32_t shared = layout.window.height - measures.chromeHeight;
  EXPECT_NEAR(layout.listHeight * 3, shared * 2, 3);
  // The frame centred within the screen's own area, not the desktop's.
  const int32_t outerLeft = layout.window.left - 5, outerTop = layout.window.top - 24;
  EXPECT_NEAR(outerLeft - screen.left,
              screen.left + screen.width - (outerLeft + layout.window.width + 10), 1);
  EXPECT_NEAR(outerTop - screen.top,
              screen.top + screen.height - (outerTop + layout.window.height + 29), 1);
}

TEST_F(FirstStartPlacementTest, ASmallScreenIsFilledAndTheListKeepsTwoThirds) {
  const ScreenRect screen{0, 0, 640, 300};
  const FirstStartLayout layout = FirstStartPlacement(measures, screen);
  // The title bar stays on the screen.
  EXPECT_EQ(layout.window.left, 5);
  EXPECT_EQ(layout.window.top, 24);
  EXPECT_EQ(layout.window.width, 640 - 10);
  EXPECT_EQ(layout.window.height, 300 - 29);
  EXPECT_EQ(layout.listHeight, (300 - 29 - 80) * 2 / 3);
  // The columns stay whole: the list scrolls sideways rather than cutting them.
  EXPECT_EQ(layout.columns, measures.columnNeeded);
}

}  // namespace
}  // namespace sentrel
