#pragma once

#include <functional>
#include <thread>

namespace sentrel {

// Turns the system's requests to end the program (SIGINT and SIGTERM; on
// Windows Ctrl+C, Ctrl+Break and the closing of the console) into calls of
// `onStop` on a thread of the platform's, so that the program ends the way it
// chose instead of being cut off. While the object lives these requests do
// not end the process by themselves. One object per process; make it before
// any other thread starts.
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
