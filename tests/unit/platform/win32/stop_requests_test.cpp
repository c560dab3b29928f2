#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "platform/stop_requests.h"
#include "platform/win32/stop_signals.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;

// Ctrl+C only asks; a closing console (and logoff, shutdown) is the end of
// the process once the handler returns, so the handler holds it until the
// program has saved, that is until the StopRequests object goes.
TEST(Win32StopRequests, AClosingConsoleWaitsForTheSave) {
  std::atomic<int> asked{0};
  auto requests = std::make_unique<StopRequests>([&] { ++asked; });
  EXPECT_TRUE(OnConsoleEvent(CTRL_C_EVENT));
  EXPECT_EQ(asked, 1);

  auto closing = std::async(std::launch::async, [] { return OnConsoleEvent(CTRL_CLOSE_EVENT); });
  for (int i = 0; i < 200 && asked < 2; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(closing.wait_for(300ms), std::future_status::timeout) << "returned before the save";
  requests.reset();
  ASSERT_EQ(closing.wait_for(2s), std::future_status::ready);
  EXPECT_TRUE(closing.get());
  EXPECT_FALSE(OnConsoleEvent(CTRL_C_EVENT)) << "no object, the system's own handling";
}

// taskkill without /F sends WM_CLOSE to the process's top-level windows.
TEST(Win32StopRequests, WmCloseToTheHiddenWindowAsksToStop) {
  std::atomic<int> asked{0};
  const StopRequests requests([&] { ++asked; });
  const HWND window = FindWindowW(L"SentrelStopRequests", L"Sentrel");
  if (window == nullptr) GTEST_SKIP() << "no window station here: no window to close";
  EXPECT_FALSE(IsWindowVisible(window));
  PostMessageW(window, WM_CLOSE, 0, 0);
  for (int i = 0; i < 200 && asked == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(IsWindow(window)) << "the window stays until the program ends";
}

}  // namespace
}  // namespace sentrel
