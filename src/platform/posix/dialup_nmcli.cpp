#include "platform/dialup_nmcli.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace sentrel {

namespace {

using SteadyClock = std::chrono::steady_clock;

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The parent's environment with the locale forced to C: the program parses
// nmcli's state words, which a translated nmcli would change.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("LC_", 0) == 0 || entry.rfind("LANG=", 0) == 0 ||
        entry.rfind("LANGUAGE=", 0) == 0) {
      continue;
    }
    env.push_back(entry);
  }
  env.push_back("LC_ALL=C");
  return env;
}

std::vector<char*> PointerArray(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

std::string Nmcli::Find() {
  const char* pathVar = std::getenv("PATH");
  const std::string folders = pathVar != nullptr ? pathVar : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/nmcli";
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

NmcliResult Nmcli::Run(const std::vector<std::string>& args,
                       std::chrono::milliseconds timeout) const {
  NmcliResult result;
  if (path_.empty()) return result;

  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A group of its own, so a time-out ends whatever the program started too.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);

  std::vector<std::string> argStrings;
  argStrings.push_back(path_);
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<std::string> envStrings = ChildEnvironment();
  std::vector<char*> argv = PointerArray(argStrings);
  std::vector<char*> envp = PointerArray(envStrings);

  pid_t pid = -1;
  const int spawnError =
      posix_spawn(&pid, path_.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(outPipe[1]);
  close(errPipe[1]);
  int fds[2] = {outPipe[0], errPipe[0]};
  if (spawnError != 0) {
    CloseIfOpen(fds[0]);
    CloseIfOpen(fds[1]);
    return result;
  }

  const auto deadline = SteadyClock::now() + timeout;
  std::string* sinks[2] = {&result.output, &result.errorText};
  bool timedOut = false;
  while (fds[0] >= 0 || fds[1] >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - SteadyClock::now())
                          .count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    const int n = poll(p, 2, static_cast<int>(std::min<long long>(left, 60000)));
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < 2 && n > 0; ++i) {
      if (fds[i] < 0 || p[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t got = read(fds[i], chunk, sizeof chunk);
      if (got > 0) {
        const std::size_t keep =
            std::min(static_cast<std::size_t>(got), kMaxOutput - std::min(kMaxOutput, sinks[i]->size()));
        sinks[i]->append(chunk, keep);
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        CloseIfOpen(fds[i]);
      }
    }
  }
  CloseIfOpen(fds[0]);
  CloseIfOpen(fds[1]);

  int status = 0;
  if (timedOut) {
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
    return result;
  }
  // The pipes are closed; the program itself gets until the deadline to exit.
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return result;
    if (SteadyClock::now() >= deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      return result;
    }
    usleep(2000);
  }
  if (!WIFEXITED(status)) return result;
  result.ran = true;
  result.exitCode = WEXITSTATUS(status);
  return result;
}

}  // namespace sentrel
