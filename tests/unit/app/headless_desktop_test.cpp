#include "app/headless_desktop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace sentrel {
namespace {

std::string Contents(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

// A service's boxes go to the system's log once each, not to standard
// error; where that log refuses, standard error has them after all.
TEST(HeadlessDesktopTest, UnattendedBoxesGoToTheSystemLogOnceEach) {
  std::FILE* errors = std::tmpfile();
  ASSERT_NE(errors, nullptr);
  std::vector<std::pair<MessageIcon, std::string>> logged;
  bool accepts = true;
  HeadlessDesktop headless(errors, [&](MessageIcon icon, const std::string& line) {
    logged.emplace_back(icon, line);
    return accepts;
  });
  Desktop& desktop = headless;
  desktop.ShowAlert("10.0.0.1 (router) is failed.\r\n", "Alarm", MessageIcon::Warning);
  desktop.ShowMessage("No ICMP available", "Sentrel", MessageIcon::None);
  desktop.ShowMessage("No ICMP available", "Sentrel", MessageIcon::None);
  EXPECT_EQ(desktop.ShowMessage("Create it?", "Sentrel", MessageIcon::Question,
                                MessageButtons::YesNo),
            MessageResult::Yes);
  ASSERT_EQ(logged.size(), 3u) << "the repeated box is left out";
  EXPECT_EQ(logged[0], std::make_pair(MessageIcon::Warning,
                                      std::string("warning [Alarm] 10.0.0.1 (router) is failed.")));
  EXPECT_EQ(logged[2].second, "question [Sentrel] Create it? -> Yes");
  EXPECT_EQ(Contents(errors), "");

  accepts = false;
  desktop.ShowMessage("Can't create log file.", "Sentrel", MessageIcon::Error);
  EXPECT_EQ(Contents(errors), "error [Sentrel] Can't create log file.\n");
  std::fclose(errors);
}

}  // namespace
}  // namespace sentrel
