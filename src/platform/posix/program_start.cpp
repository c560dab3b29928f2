#include "platform/program_start.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace sentrel {

std::vector<std::string> SplitCommandLine(const std::string& params) {
  std::vector<std::string> args;
  std::string current;
  bool inQuotes = false;
  bool haveArg = false;
  for (std::size_t i = 0; i < params.size(); ++i) {
    const char c = params[i];
    if (c == '\\' && i + 1 < params.size() && params[i + 1] == '"') {
      current += '"';
      haveArg = true;
      ++i;
    } else if (c == '"') {
      inQuotes = !inQuotes;
      haveArg = true;
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (haveArg) args.push_back(current);
      current.clear();
      haveArg = false;
    } else {
      current += c;
      haveArg = true;
    }
  }
  if (haveArg) args.push_back(current);
  return args;
}

namespace {

bool IsDocument(const std::string& program) {
  return program.find('/') != std::string::npos && access(program.c_str(), X_OK) != 0 &&
         access(program.c_str(), R_OK) == 0;
}

}  // namespace

bool StartProgram(const std::string& program, const std::string& params) {
  if (program.empty()) return false;
  std::vector<std::string> args;
  if (IsDocument(program)) args.push_back("xdg-open");
  args.push_back(program);
  for (auto& a : SplitCommandLine(params)) args.push_back(std::move(a));

  // Everything the child needs is prepared before fork: after fork in a
  // threaded program only async-signal-safe calls are allowed.
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return false;
  }
  if (child == 0) {
    // The intermediate child starts the program and exits at once, so the
    // program is re-parented and never becomes our zombie.
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      execvp(argv[0], argv.data());
      const int err = errno;
      (void)!write(pipeFds[1], &err, sizeof err);
      _exit(127);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  close(pipeFds[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes on a successful exec (close-on-exec) or carries errno.
  int execError = 0;
  ssize_t n;
  do {
    n = read(pipeFds[0], &execError, sizeof execError);
  } while (n < 0 && errno == EINTR);
  close(pipeFds[0]);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

}  // namespace sentrel
