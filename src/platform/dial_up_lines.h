#pragma once

#include <memory>
#include <string>
#include <vector>

namespace sentrel {

// The state of one dial-up connection.
enum class LineState { Down, Connecting, Up };

// What starting a dial gave: `started`, or the system's reason for refusing
// it (empty when the entry's own settings could not be read).
struct DialStart {
  bool started = false;
  std::string reason;
};

// The system's dial-up connections, named by their phone-book entries:
// Remote Access Service on Windows, NetworkManager's connection profiles
// elsewhere. Calls block the calling thread for at most some seconds.
class DialUpLines {
 public:
  virtual ~DialUpLines() = default;
  // The entry names; empty when the service fails.
  virtual std::vector<std::string> Entries() const = 0;
  // The connection of `entry` (letter case counts).
  virtual LineState State(const std::string& entry) const = 0;
  // Starts bringing `entry` up as `user` with `password` (each when not
  // empty) without waiting for it.
  virtual DialStart Dial(const std::string& entry, const std::string& user,
                         const std::string& password) = 0;
  // Hangs up a connection of `entry` that this object dialled.
  virtual void HangUp(const std::string& entry) = 0;
};

// The system's dial-up service; nullptr ("library missing") when it has none.
std::unique_ptr<DialUpLines> OpenDialUpLines();

}  // namespace sentrel
