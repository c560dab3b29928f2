#include "netns_topology.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace sentrel::testing {

namespace {

int RunScript(const std::string& arguments) {
  std::string command = std::string(SENTREL_NETNS_SCRIPT) + " " + arguments + " >/dev/null 2>&1";
  return std::system(command.c_str());
}

}  // namespace

NetnsTopology::NetnsTopology() : prefix_("snp" + std::to_string(getpid())) {}

NetnsTopology::~NetnsTopology() { Down(); }

std::string NetnsTopology::Unavailable() {
  if (geteuid() != 0) return "needs root to create network namespaces";
  if (std::system("ip netns list >/dev/null 2>&1") != 0) return "`ip netns` is not available";
  return {};
}

bool NetnsTopology::Up() {
  up_ = RunScript("up " + prefix_) == 0;
  return up_;
}

void NetnsTopology::Down() {
  if (up_) RunScript("down " + prefix_);
  up_ = false;
}

NetnsGuard::NetnsGuard(const std::string& name) {
  original_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  int target = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (original_ >= 0 && target >= 0) ok_ = setns(target, CLONE_NEWNET) == 0;
  if (target >= 0) close(target);
}

NetnsGuard::~NetnsGuard() {
  if (original_ < 0) return;
  if (ok_) setns(original_, CLONE_NEWNET);
  close(original_);
}

bool RunThreadsIn(const std::string& netns, int count, const std::function<void(int)>& body,
                  const std::function<void()>& whileRunning) {
  struct Task {
    const std::string* netns;
    const std::function<void(int)>* body;
    int index;
    bool moved;
  };
  std::vector<Task> tasks(static_cast<size_t>(count));
  std::vector<pthread_t> threads;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // Small stacks as the workers use; the address sanitizer needs more room.
#if defined(__SANITIZE_ADDRESS__)
  pthread_attr_setstacksize(&attr, 1024 * 1024);
#else
  pthread_attr_setstacksize(&attr, 256 * 1024);
#endif
  bool ok = true;
  for (int i = 0; i < count; ++i) {
    tasks[static_cast<size_t>(i)] = {&netns, &body, i, false};
    pthread_t thread;
    auto run = [](void* p) -> void* {
      auto* task = static_cast<Task*>(p);
      NetnsGuard guard(*task->netns);
      task->moved = guard.ok();
      if (task->moved) (*task->body)(task->index);
      return nullptr;
    };
    if (pthread_create(&thread, &attr, run, &tasks[static_cast<size_t>(i)]) != 0) {
      ok = false;
      break;
    }
    threads.push_back(thread);
  }
  pthread_attr_destroy(&attr);
  if (whileRunning) whileRunning();
  for (pthread_t thread : threads) pthread_join(thread, nullptr);
  for (size_t i = 0; i < threads.size(); ++i) ok = ok && tasks[i].moved;
  return ok;
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace sentrel::testing
