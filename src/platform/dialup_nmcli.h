#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/dial_up_lines.h"

namespace sentrel {

// What one run of NetworkManager's command-line client produced.
struct NmcliResult {
  bool ran = false;       // the program started and ended by itself in time
  int exitCode = -1;      // its exit status when `ran`
  std::string output;     // standard output, at most kMaxOutput bytes kept
  std::string errorText;  // standard error, at most kMaxOutput bytes kept
};

// Runs `nmcli`, the program through which dial-up style connections
// (NetworkManager connection profiles) are listed, brought up and down.
// "Library missing" is an empty path: then nothing is ever started.
class Nmcli {
 public:
  static constexpr std::size_t kMaxOutput = 256 * 1024;

  // Looks for an executable "nmcli" in the folders of PATH; empty when none.
  static std::string Find();

  explicit Nmcli(std::string path) : path_(std::move(path)) {}

  bool Available() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

  // Runs nmcli with `args` (no shell) and the C locale, so its output is not
  // translated. A run that outlives `timeout` is killed and reported as not
  // `ran`. Blocks the calling thread.
  NmcliResult Run(const std::vector<std::string>& args,
                  std::chrono::milliseconds timeout) const;

 private:
  std::string path_;
};

// Dial-up lines over `nmcli`; nullptr when it is missing (an empty path).
std::unique_ptr<DialUpLines> MakeNmcliLines(Nmcli nmcli);

// Splits one line of nmcli's terse output into its fields, undoing the
// escapes "\:" and "\\".
std::vector<std::string> SplitTerseLine(const std::string& line);

}  // namespace sentrel
