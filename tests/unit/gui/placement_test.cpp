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

}  // namespace
}  // namespace sentrel
