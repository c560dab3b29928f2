#include "notify/dial_up.h"

#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/private_temp_file.h"

namespace sentrel {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kQueryTimeout{10000};
constexpr milliseconds kStartTimeout{30000};
constexpr milliseconds kHangUpTimeout{20000};
// Longest reason shown in the "RAS Error!" box.
constexpr std::size_t kMaxReason = 100;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// The setting that carries the password of a profile type that dials with
// one; empty for types whose secrets the profile keeps by itself.
std::string PasswordSetting(const std::string& type) {
  if (type == "gsm" || type == "cdma" || type == "pppoe") return type + ".password";
  if (type == "vpn") return "vpn.secrets.password";
  return {};
}

// A file for nmcli's "passwd-file", readable by the owner only; removed when
// the object goes.
class SecretsFile {
 public:
  SecretsFile(const std::string& setting, const std::string& value)
      : file_("sentrel-dial-", SecretLine(setting, value)) {}
  const std::string& Path() const { return file_.Path(); }

 private:
  static std::string SecretLine(const std::string& setting, const std::string& value) {
    std::string line = setting + ":";
    for (const char c : value) {
      if (c != '\r' && c != '\n') line += c;  // one line per secret
    }
    return line + '\n';
  }

  PrivateTempFile file_;
};

std::string FirstLine(const std::string& text) {
  for (const std::string& line : Lines(text)) {
    if (!line.empty()) return line;
  }
  return {};
}

}  // namespace

DialUp::DialUp(Nmcli nmcli) : nmcli_(std::move(nmcli)) {}

void DialUp::SetSettleWait(milliseconds pollInterval, milliseconds limit) {
  pollInterval_ = pollInterval;
  settleLimit_ = limit;
}

std::vector<std::string> SplitTerseLine(const std::string& line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      fields.back() += line[++i];
    } else if (line[i] == ':') {
      fields.emplace_back();
    } else {
      fields.back() += line[i];
    }
  }
  return fields;
}

std::vector<std::string> DialUp::ListEntries() const {
  std::vector<std::string> entries;
  if (!Available()) return entries;
  const NmcliResult r = nmcli_.Run({"-t", "-f", "NAME", "connection", "show"}, kQueryTimeout);
  if (!r.ran || r.exitCode != 0) return entries;
  for (const std::string& line : Lines(r.output)) {
    if (line.empty()) continue;
    entries.push_back(SplitTerseLine(line).front());
  }
  return entries;
}

bool DialUp::EntryExists(const std::string& name) const {
  for (const std::string& entry : ListEntries()) {
    if (entry == name) return true;
  }
  return false;
}

std::string DialUp::ActiveState(const std::string& name) const {
  if (!Available()) return {};
  const NmcliResult r =
      nmcli_.Run({"-t", "-f", "NAME,STATE", "connection", "show", "--active"}, kQueryTimeout);
  if (!r.ran || r.exitCode != 0) return {};
  for (const std::string& line : Lines(r.output)) {
    const std::vector<std::string> fields = SplitTerseLine(line);
    if (fields.size() >= 2 && fields[0] == name) return fields[1];
  }
  return {};
}

bool DialUp::IsConnected(const std::string& name) const {
  return ActiveState(name) == "activated";
}

bool DialUp::Dial(const ROptions& options, Desktop& desktop) {
  if (!Available()) return false;
  const NmcliResult settings = nmcli_.Run(
      {"-t", "-f", "connection.type", "connection", "show", "id", options.Connection},
      kQueryTimeout);
  if (!settings.ran || settings.exitCode != 0) return false;
  const std::vector<std::string> typeField = SplitTerseLine(FirstLine(settings.output));
  const std::string type = typeField.size() >= 2 ? typeField[1] : std::string();

  // nmcli takes no user name per activation: the profile's own one applies.
  std::vector<std::string> args = {"--wait", "0", "connection", "up", "id", options.Connection};
  std::unique_ptr<SecretsFile> secrets;
  const std::string setting = PasswordSetting(type);
  if (!options.Password.empty() && !setting.empty()) {
    secrets = std::make_unique<SecretsFile>(setting, options.Password);
    if (!secrets->Path().empty()) {
      args.push_back("passwd-file");
      args.push_back(secrets->Path());
    }
  }

  const NmcliResult up = nmcli_.Run(args, kStartTimeout);
  if (!up.ran || up.exitCode != 0) {
    std::string reason = FirstLine(up.errorText);
    if (reason.empty()) reason = FirstLine(up.output);
    if (reason.empty()) {
      reason = up.ran ? "nmcli failed with exit code " + std::to_string(up.exitCode)
                      : "nmcli did not finish";
    }
    desktop.ShowMessage(reason.substr(0, kMaxReason), "RAS Error!", MessageIcon::Error);
    return false;
  }
  handle_ = options.Connection;
  return true;
}

void DialUp::WaitForLine(const std::string& name, const TransferLog& log) const {
  const auto deadline = std::chrono::steady_clock::now() + settleLimit_;
  int lastState = -1;
  for (;;) {
    const std::string word = ActiveState(name);
    int state = kStateDisconnected;
    if (word == "activated") {
      state = kStateConnected;
    } else if (word == "activating") {
      state = kStateConnecting;
    }
    if (state != lastState) log.Append(DialProgressText(state));
    lastState = state;
    if (state != kStateConnecting) return;
    if (std::chrono::steady_clock::now() >= deadline) {
      // The transfer is tried anyway; without a line it fails and says so
      // in the log.
      log.Append("Dial-up wait timed out");
      return;
    }
    std::this_thread::sleep_for(pollInterval_);
  }
}

DialOutcome DialUp::ConnectPhase(const ROptions& options, Desktop& desktop,
                                 const TransferLog& log) {
  if (!options.DialUp || !Available()) return DialOutcome::NotNeeded;
  if (!EntryExists(options.Connection)) {
    desktop.ShowMessage("Can't find the connection!", kApplicationTitle, MessageIcon::Error);
    return DialOutcome::NotNeeded;
  }
  const std::string state = ActiveState(options.Connection);
  if (state != "activated") {
    // A line that is coming up already is waited for, not dialled again.
    if (state != "activating" && !Dial(options, desktop)) return DialOutcome::Failed;
    WaitForLine(options.Connection, log);
  }
  ++useCount_;
  return DialOutcome::Up;
}

void DialUp::ReleasePhase(const ROptions& options, DialOutcome outcome) {
  if (!options.DialUp || outcome != DialOutcome::Up) return;
  if (useCount_ > 0) --useCount_;
  if (!options.Disconnect || useCount_ > 0 || handle_.empty() || !Available()) return;
  nmcli_.Run({"--wait", "15", "connection", "down", "id", handle_}, kHangUpTimeout);
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
