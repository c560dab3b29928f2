#include "platform/autostart.h"

#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/paths.h"

namespace sentrel {

namespace {

// Desktop entry Exec rules: a path with reserved characters is quoted, and
// inside quotes ", `, $ and \ are escaped; % is doubled everywhere.
std::string ExecArgument(const std::string& path) {
  const bool quote = path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
  std::string out = quote ? "\"" : "";
  for (char c : path) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  if (quote) out += '"';
  return out;
}

}  // namespace

std::string AutostartEntryPath() {
  const std::string config = GetConfigFolder();  // .../Sentrel
  if (config.empty()) return {};
  return (std::filesystem::path(config).parent_path() / "autostart" / "sentrel.desktop").string();
}

std::string AutostartEntry(const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Sentrel\n"
         "Comment=Host-availability monitor\n"
         "Exec=" + ExecArgument(program) + "\n"
         "Icon=sentrel\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool SetAutostart(bool on, const std::string& program, std::string* error) {
  const std::string path = AutostartEntryPath();
  if (path.empty()) {
    if (error) *error = "no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)";
    return false;
  }
  std::error_code ec;
  if (!on) {
    std::filesystem::remove(path, ec);
    if (ec && error) *error = path + ": " + ec.message();
    return !ec;
  }
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (ec) {
    if (error) *error = path + ": " + ec.message();
    return false;
  }
  return WriteFileAtomically(path, AutostartEntry(program), {}, error);
}

}  // namespace sentrel
