#pragma once

#include <chrono>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "notify/transfer_log.h"
#include "platform/desktop.h"
#include "platform/dial_up_lines.h"
#include "platform/dialup_nmcli.h"
#include "settings/options.h"

namespace sentrel {

// Outcome of the connect phase before a mail transfer.
enum class DialOutcome {
  NotNeeded,  // dial-up off, the dial-up service missing, or the entry was not found
  Up,         // already connected, or dialled and settled
  Failed,     // dialling could not be started: no transfer
};

// Dial-up connections for mail, over the system's dial-up lines (Remote
// Access Service on Windows, NetworkManager connection profiles elsewhere).
// One object per process, created at start-up; it holds the handle of this
// program's last dial and the use counter of transfers that found the line
// up. One caller at a time: the window thread, or the helper thread of a mail
// transfer while the window thread waits for it.
class DialUp {
 public:
  // Connection states written to the transfer log while a dial settles.
  static constexpr int kStateConnecting = 2;
  static constexpr int kStateConnected = 0x2000;
  static constexpr int kStateDisconnected = 0x2001;

  // An `nmcli` with an empty path means "library missing": then no operation
  // runs anything.
  explicit DialUp(Nmcli nmcli);
  // The system's dial-up lines; nullptr means "library missing".
  explicit DialUp(std::unique_ptr<DialUpLines> lines);

  bool Available() const { return lines_ != nullptr; }

  // How often and how long the connect phase waits for a dial to settle.
  void SetSettleWait(std::chrono::milliseconds pollInterval, std::chrono::milliseconds limit);

  // Entry names of the profile store, for the options dialog; empty when
  // the service is missing or fails.
  std::vector<std::string> ListEntries() const;
  // True when a profile has exactly this name (letter case counts).
  bool EntryExists(const std::string& name) const;
  // True when a connection of exactly this name is up.
  bool IsConnected(const std::string& name) const;

  // Starts bringing up `options.Connection` without waiting for it. False
  // without a message when the entry's settings cannot be read; false after
  // the box "RAS Error!" with the system's reason when the start is refused.
  bool Dial(const ROptions& options, Desktop& desktop);

  // Before a transfer: makes sure the line is up when `options.DialUp` asks
  // for it. Shows "Can't find the connection!" for a missing entry (the
  // transfer then goes over whatever network there is). Waits at most the
  // settle limit for a dial, less when `stop` is requested; progress goes to
  // `log`.
  DialOutcome ConnectPhase(const ROptions& options, Desktop& desktop, const TransferLog& log,
                           std::stop_token stop = {});
  // After the transfer, whatever its result: counts it out and, when
  // `options.Disconnect` is set and no other transfer uses the line, hangs up
  // a line that this program dialled.
  void ReleasePhase(const ROptions& options, DialOutcome outcome);

  int UseCount() const { return useCount_; }

 private:
  void WaitForLine(const std::string& name, const TransferLog& log,
                   const std::stop_token& stop) const;

  std::unique_ptr<DialUpLines> lines_;
  std::chrono::milliseconds pollInterval_{250};
  std::chrono::milliseconds settleLimit_{120000};
  std::string handle_;  // profile this program last brought up; empty when none
  int useCount_ = 0;
};

// The log text for a connection state; empty for an unknown state.
std::string DialProgressText(int state);

}  // namespace sentrel
