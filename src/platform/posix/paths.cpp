#include "platform/paths.h"

#include <cstdlib>
#include <filesystem>

namespace sentrel {

namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// XDG rule: an unset or empty variable (or a relative path) means the default
// below $HOME.
std::string XdgFolder(const char* variable, const char* homeRelative) {
  std::string base = EnvOrEmpty(variable);
  if (base.empty() || base.front() != '/') {
    const std::string home = EnvOrEmpty("HOME");
    if (home.empty()) return {};
    base = JoinPath(home, homeRelative);
  }
  return JoinPath(base, "Sentrel");
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + '/' + name;
}

std::string GetDataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

std::string GetConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }

std::string GetProgramPath() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string GetProgramFolder() {
  const std::string exe = GetProgramPath();
  return exe.empty() ? exe : std::filesystem::path(exe).parent_path().string();
}

std::string GetRuntimeFolder() {
  const std::string runtime = EnvOrEmpty("XDG_RUNTIME_DIR");
  if (!runtime.empty() && runtime.front() == '/') return runtime;
  std::error_code ec;
  const auto tmp = std::filesystem::temp_directory_path(ec);
  return ec ? std::string("/tmp") : tmp.string();
}

// The store may hold a path written on Windows ("%USERPROFILE%\\Logs"); the
// same names are looked up in this environment.
std::string ExpandEnvironmentNames(const std::string& text) {
  std::string expanded;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('%', at);
    const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) break;
    const char* value = std::getenv(text.substr(open + 1, close - open - 1).c_str());
    if (value == nullptr || close == open + 1) {
      // Not a name that is set: the first % stays, the second may open one.
      expanded.append(text, at, close - at);
      at = close;
      continue;
    }
    expanded.append(text, at, open - at).append(value);
    at = close + 1;
  }
  return expanded.append(text, at, std::string::npos);
}

}  // namespace sentrel
