#include "notify/dial_up.h"

#include <condition_variable>
#include <mutex>

namespace sentrel {

namespace {

// Longest reason shown in the "RAS Error!" box.
constexpr std::size_t kMaxReason = 100;

}  // namespace

DialUp::DialUp(Nmcli nmcli) : DialUp(MakeNmcliLines(std::move(nmcli))) {}

DialUp::DialUp(std::unique_ptr<DialUpLines> lines) : lines_(std::move(lines)) {}

void DialUp::SetSettleWait(std::chrono::milliseconds pollInterval,
                           std::chrono::milliseconds limit) {
  pollInterval_ = pollInterval;
  settleLimit_ = limit;
}

std::vector<std::string> DialUp::ListEntries() const {
  return Available() ? lines_->Entries() : std::vector<std::string>();
}

bool DialUp::EntryExists(const std::string& name) const {
  for (const std::string& entry : ListEntries()) {
    if (entry == name) return true;
  }
  return false;
}

bool DialUp::IsConnected(const std::string& name) const {
  return Available() && lines_->State(name) == LineState::Up;
}

bool DialUp::Dial(const ROptions& options, Desktop& desktop) {
  if (!Available()) return false;
  const DialStart start = lines_->Dial(options.Connection, options.Login, options.Password);
  if (!start.started) {
    if (!start.reason.empty()) {
      desktop.ShowMessage(start.reason.substr(0, kMaxReason), "RAS Error!", MessageIcon::Error);
    }
    return false;
  }
  handle_ = options.Connection;
  return true;
}

void DialUp::WaitForLine(const std::string& name, const TransferLog& log,
                         const std::stop_token& stop) const {
  const auto deadline = std::chrono::steady_clock::now() + settleLimit_;
  int lastState = -1;
  for (;;) {
    const LineState line = lines_->State(name);
    const int state = line == LineState::Up           ? kStateConnected
                      : line == LineState::Connecting ? kStateConnecting
                                                      : kStateDisconnected;
    if (state != lastState) log.Append(DialProgressText(state));
    lastState = state;
    if (state != kStateConnecting || stop.stop_requested()) return;
    if (std::chrono::steady_clock::now() >= deadline) {
      // The transfer is tried anyway; without a line it fails and says so
      // in the log.
      log.Append("Dial-up wait timed out");
      return;
    }
    std::mutex mutex;
    std::unique_lock lock(mutex);
    std::condition_variable_any().wait_for(lock, stop, pollInterval_, [] { return false; });
  }
}

DialOutcome DialUp::ConnectPhase(const ROptions& options, Desktop& desktop,
                                 const TransferLog& log, std::stop_token stop) {
  if (!options.DialUp || !Available()) return DialOutcome::NotNeeded;
  if (!EntryExists(options.Connection)) {
    desktop.ShowMessage("Can't find the connection!", kApplicationTitle, MessageIcon::Error);
    return DialOutcome::NotNeeded;
  }
  const LineState state = lines_->State(options.Connection);
  if (state != LineState::Up) {
    // A line that is coming up already is waited for, not dialled again.
    if (state != LineState::Connecting && !Dial(options, desktop)) return DialOutcome::Failed;
    WaitForLine(options.Connection, log, stop);
  }
  ++useCount_;
  return DialOutcome::Up;
}

void DialUp::ReleasePhase(const ROptions& options, DialOutcome outcome) {
  if (!options.DialUp || outcome != DialOutcome::Up) return;
  if (useCount_ > 0) --useCount_;
  if (!options.Disconnect || useCount_ > 0 || handle_.empty() || !Available()) return;
  lines_->HangUp(handle_);
  // A later line of the same name is not ours unless we dial it again.
  handle_.clear();
}

std::string DialProgressText(int state) {
  static const char* const kLow[] = {
      "Opening port",
      "Port opened",
      "Connecting device",
      "Device connected",
      "All devices connected",
      "Start authenticating",
      "Authentication: notify",
      "Authentication: retry",
      "Authentication: callback",
      "Authentication: change password",
      "Authentication: projecting",
      "Authentication: link speed",
      "Authentication: acknowledge",
      "Authentication: reauthenticate",
      "Authenticated",
      "Preparing for callback",
      "Waiting for modem reset",
      "Waiting for callback",
      "Projected",
      "Start authentication",
      "Callback complete",
      "Logging on network",
  };
  static const char* const kPaused[] = {"Interactive", "Retry Authentication",
                                        "Callback set by caller", "Password expired"};
  if (state >= 0 && state < static_cast<int>(std::size(kLow))) return kLow[state];
  if (state >= 0x1000 && state < 0x1000 + static_cast<int>(std::size(kPaused))) {
    return kPaused[state - 0x1000];
  }
  if (state == DialUp::kStateConnected) return "Connected";
  if (state == DialUp::kStateDisconnected) return "Disconnected";
  return {};
}

}  // namespace sentrel
