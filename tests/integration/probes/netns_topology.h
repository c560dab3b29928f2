#pragma once

#include <functional>
#include <string>

namespace sentrel::testing {

// The namespaces of scripts/netns-topology.sh for one test process, named
// "snp<pid>-<role>". Up() builds them, the destructor removes them (and the
// script removes what crashed runs left).
class NetnsTopology {
 public:
  NetnsTopology();
  ~NetnsTopology();
  NetnsTopology(const NetnsTopology&) = delete;
  NetnsTopology& operator=(const NetnsTopology&) = delete;

  // Why the tests cannot run here (not root, no `ip netns`), or empty.
  static std::string Unavailable();

  bool Up();
  void Down();
  std::string Name(const std::string& role) const { return prefix_ + "-" + role; }

 private:
  std::string prefix_;
  bool up_ = false;
};

// Moves the calling thread into a named network namespace until destroyed.
// Sockets opened meanwhile stay in that namespace.
class NetnsGuard {
 public:
  explicit NetnsGuard(const std::string& name);
  ~NetnsGuard();
  NetnsGuard(const NetnsGuard&) = delete;
  NetnsGuard& operator=(const NetnsGuard&) = delete;
  bool ok() const { return ok_; }

 private:
  int original_ = -1;
  bool ok_ = false;
};

// Runs `body` on `count` threads with small stacks (as the program's workers
// have), each first moved into `netns`; returns when all have ended. False
// when a thread could not be started or moved. `whileRunning` runs on the
// calling thread once the threads have been started (also when some failed).
bool RunThreadsIn(const std::string& netns, int count, const std::function<void(int)>& body,
                  const std::function<void()>& whileRunning = {});

// Raises the soft limit of open files to the hard one.
void RaiseOpenFileLimit();

}  // namespace sentrel::testing
