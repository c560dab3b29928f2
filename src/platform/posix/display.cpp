#include "platform/display.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace sentrel {

namespace {

bool ConnectsToUnixSocket(const std::string& path, bool abstract) {
  sockaddr_un address{};
  if (path.size() + 1 >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  close(fd);
  return connected;
}

bool XServerReachable(const std::string& display) {
  const auto colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  if (!host.empty() && host != "unix") return true;
  const std::string path = "/tmp/.X11-unix/X" + number;
  return ConnectsToUnixSocket(path, true) || ConnectsToUnixSocket(path, false);
}

bool WaylandReachable(const std::string& name, const std::string& runtimeDir) {
  const std::string path = name.front() == '/' ? name : runtimeDir + "/" + name;
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

bool DisplayAvailable(const std::function<std::string(const char*)>& env) {
  const std::string platform = env("QT_QPA_PLATFORM");
  if (!platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0)
    return true;
  const std::string wayland = env("WAYLAND_DISPLAY");
  if (!wayland.empty() && WaylandReachable(wayland, env("XDG_RUNTIME_DIR"))) return true;
  const std::string display = env("DISPLAY");
  return !display.empty() && XServerReachable(display);
}

bool DisplayAvailable() {
  return DisplayAvailable([](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  });
}

}  // namespace sentrel
