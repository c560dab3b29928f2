#include "common/command_line.h"

#include <mutex>

#include "common/text.h"

namespace sentrel {

namespace {

std::mutex& ArgumentsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<std::string>& Arguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

}  // namespace

void SetCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv && argv[i]; ++i) arguments.emplace_back(argv[i]);
  std::lock_guard lock(ArgumentsMutex());
  Arguments() = std::move(arguments);
}

bool HasCommandLineSwitch(const std::vector<std::string>& arguments, std::string_view name) {
  const std::string slash = "/" + std::string(name);
  const std::string dash = "-" + std::string(name);
  for (const std::string& argument : arguments) {
    const std::string lower = AsciiLower(argument);
    if (lower == slash || lower == dash) return true;
  }
  return false;
}

bool HasCommandLineSwitch(std::string_view name) {
  std::lock_guard lock(ArgumentsMutex());
  return HasCommandLineSwitch(Arguments(), name);
}

}  // namespace sentrel
