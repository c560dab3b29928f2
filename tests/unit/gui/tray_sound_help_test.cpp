#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "fakes/test_files.h"
#include "gui/app_tray.h"
#include "gui/help_window.h"
#include "gui/qt/qt_desktop.h"
#include "gui/sound_player.h"

namespace sentrel {
namespace {

struct TrayProbe {
  bool visible = false;
  bool pinging = false;
  bool multPlayWav = false;
  std::vector<std::string> calls;
  std::vector<std::string> notices;

  TrayActions Actions() {
    TrayActions a;
    a.mainWindowVisible = [this] { return visible; };
    a.bringToFront = [this] { calls.push_back("front"); };
    a.restore = [this] { calls.push_back("restore"); };
    a.pinging = [this] { return pinging; };
    a.setPinging = [this](bool on) { calls.push_back(on ? "ping" : "stop"); };
    a.multPlayWav = [this] { return multPlayWav; };
    a.stopSounds = [this] { calls.push_back("sounds"); };
    a.help = [this] { calls.push_back("help"); };
    a.about = [this] { calls.push_back("about"); };
    a.exit = [this] { calls.push_back("exit"); };
    a.notice = [this](const std::string& line) { notices.push_back(line); };
    return a;
  }
};

TEST(AppTray, MouseRulesMenuCaptionsAndEnabling) {
  TrayProbe probe;
  AppTray tray(probe.Actions());
  probe.visible = true;
  tray.HandleActivation(QSystemTrayIcon::Context);  // visible: to the front, no menu
  tray.HandleActivation(QSystemTrayIcon::Trigger);
  probe.visible = false;
  tray.HandleActivation(QSystemTrayIcon::Trigger);
  EXPECT_EQ(probe.calls, (std::vector<std::string>{"front", "front", "restore"}));
  EXPECT_FALSE(tray.Menu().isVisible());

  TrayCaptions captions;
  captions.ping = "&Pingen";
  captions.stop = "&Anhalten";
  tray.SetCaptions(captions);
  const QList<QAction*> items = tray.Menu().actions();
  ASSERT_EQ(items.size(), 9);  // separators count as items
  EXPECT_EQ(tray.Menu().defaultAction(), items[0]);
  EXPECT_EQ(items[1]->text(), "&Pingen");
  EXPECT_FALSE(items[3]->isEnabled());
  probe.pinging = true;
  probe.multPlayWav = true;
  tray.UpdateMenu();
  EXPECT_EQ(items[1]->text(), "&Anhalten");
  EXPECT_TRUE(items[3]->isEnabled());
  items[1]->trigger();  // the opposite of the current state
  items[8]->trigger();
  EXPECT_EQ(probe.calls.back(), "exit");
  EXPECT_EQ(probe.calls[probe.calls.size() - 2], "stop");

  tray.SetImage(TrayImage::Lost);
  EXPECT_EQ(tray.Image(), TrayImage::Lost);
}

TEST(AppTray, WithoutANotificationAreaTheWindowMinimisesToTheTaskbar) {
  if (QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "this platform has a tray";
  TrayProbe probe;
  AppTray tray(probe.Actions());
  EXPECT_FALSE(tray.ApplyTrayMode(true));
  EXPECT_FALSE(tray.Shown());
  EXPECT_FALSE(tray.MinimiseToTray());
  EXPECT_FALSE(tray.MinimiseToTray());
  EXPECT_EQ(probe.notices.size(), 1u);  // said once
  EXPECT_FALSE(tray.ApplyTrayMode(false));
  EXPECT_FALSE(tray.MinimiseToTray());
  EXPECT_EQ(probe.notices.size(), 1u);
}

TEST(SoundPlayer, MissingFilesAndDevicesNeitherBlockNorCrashAndAreSaidOnce) {
  testing::TempDir dir;
  const std::string wav = dir.Path() + "/tone.wav";
  testing::PutFile(wav, SineToneWav(800, 250));
  std::vector<std::string> notices;
  SoundPlayer player([&](const std::string& line) { notices.push_back(line); });
  player.Play(dir.Path() + "/missing.wav", true);
  player.Play(wav, true);
  player.Beep();
  player.StopAll();
  player.Play({}, false);  // an empty file stops every sound
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("missing.wav"), std::string::npos);
}

TEST(SoundPlayer, TheToneIsAValidPcmWaveFile) {
  const std::string wav = SineToneWav(800, 250, 22050);
  ASSERT_EQ(wav.size(), 44u + 2 * 5512);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(wav.substr(36, 4), "data");
  // The first sample is silent (faded in), a later one is not.
  EXPECT_EQ(wav[44], 0);
  EXPECT_EQ(wav[45], 0);
  EXPECT_NE(wav.substr(44 + 200, 2), std::string(2, '\0'));
}

TEST(Help, EveryContextNumberReachesAnExistingTopic) {
  const std::filesystem::path help = std::filesystem::path(SENTREL_SOURCE_DIR) / "resources/help";
  std::ifstream contexts(help / "contexts.txt");
  std::string line;
  std::vector<int> numbers;
  const std::regex entry(R"((\d+)\s+([\w.-]+\.html)#([\w-]+))");
  while (std::getline(contexts, line)) {
    std::smatch m;
    if (!std::regex_search(line, m, entry)) continue;
    numbers.push_back(std::stoi(m[1]));
    const std::string page = testing::ReadFile(help / m[2].str());
    EXPECT_NE(page.find("name=\"" + m[3].str() + "\""), std::string::npos)
        << m[2] << " has no anchor " << m[3];
  }
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<int>{30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 125, 127}));

  HelpWindow window({help.string()});
  EXPECT_TRUE(window.Show(15, 110));
  EXPECT_TRUE(window.Show(15, 9999));  // unknown: the contents
  window.close();
}

TEST(Help, AMissingHelpFolderGivesTheMessageWithThePath) {
  HelpWindow help({"/nonexistent/sentrel/help"});
  SoundPlayer sound(nullptr);
  QtDesktop desktop(sound, help);
  QString shown;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text();
      box->close();
    }
  });
  desktop.ShowHelp(1, 0);
  EXPECT_EQ(shown, "Cant find file \"/nonexistent/sentrel/help/index.html\"");
}

}  // namespace
}  // namespace sentrel
