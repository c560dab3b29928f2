#pragma once

#include <functional>
#include <thread>

namespace sentrel {

// Turns the system's requests to end the program (SIGINT and SIGTERM; on
// Windows Ctrl+C, Ctrl+Break, the closing of the console, logoff, shutdown
// and WM_CLOSE to the program's hidden window, as taskkill sends it) into
// calls of `onStop` on a thread of the platform's, so that the program ends
// the way it chose instead of being cut off. While the object lives these
// requests do not end the process by themselves; where the system ends it
// anyway once asked (a closed console, the end of the session) the request
// waits, within the time the system allows, until the object is destroyed:
// destroy it after the program has saved. One object per process; make it
// before any other thread starts.
class StopRequests {
 public:
  explicit StopRequests(std::function<void()> onStop);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

 private:
  std::function<void()> onStop_;
  std::thread waiter_;
};

}  // namespace sentrel
