#include <memory>

#include "platform/dialup_nmcli.h"
#include "platform/private_temp_file.h"

namespace sentrel {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kQueryTimeout{10000};
constexpr milliseconds kStartTimeout{30000};
constexpr milliseconds kHangUpTimeout{20000};

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

std::string FirstLine(const std::string& text) {
  for (const std::string& line : Lines(text)) {
    if (!line.empty()) return line;
  }
  return {};
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
std::unique_ptr<PrivateTempFile> SecretsFile(const std::string& setting,
                                             const std::string& value) {
  std::string line = setting + ":";
  for (const char c : value) {
    if (c != '\r' && c != '\n') line += c;  // one line per secret
  }
  return std::make_unique<PrivateTempFile>("sentrel-dial-", line + '\n');
}

// Connection profiles are the phone-book entries; `connection up/down`
// dials and hangs up.
class NmcliLines final : public DialUpLines {
 public:
  explicit NmcliLines(Nmcli nmcli) : nmcli_(std::move(nmcli)) {}

  std::vector<std::string> Entries() const override {
    std::vector<std::string> entries;
    const NmcliResult r = nmcli_.Run({"-t", "-f", "NAME", "connection", "show"}, kQueryTimeout);
    if (!r.ran || r.exitCode != 0) return entries;
    for (const std::string& line : Lines(r.output)) {
      if (!line.empty()) entries.push_back(SplitTerseLine(line).front());
    }
    return entries;
  }

  LineState State(const std::string& entry) const override {
    const NmcliResult r =
        nmcli_.Run({"-t", "-f", "NAME,STATE", "connection", "show", "--active"}, kQueryTimeout);
    if (!r.ran || r.exitCode != 0) return LineState::Down;
    for (const std::string& line : Lines(r.output)) {
      const std::vector<std::string> fields = SplitTerseLine(line);
      if (fields.size() < 2 || fields[0] != entry) continue;
      if (fields[1] == "activated") return LineState::Up;
      if (fields[1] == "activating") return LineState::Connecting;
    }
    return LineState::Down;
  }

  DialStart Dial(const std::string& entry, const std::string& /*user*/,
                 const std::string& password) override {
    const NmcliResult settings = nmcli_.Run(
        {"-t", "-f", "connection.type", "connection", "show", "id", entry}, kQueryTimeout);
    if (!settings.ran || settings.exitCode != 0) return {};
    const std::vector<std::string> typeField = SplitTerseLine(FirstLine(settings.output));
    const std::string type = typeField.size() >= 2 ? typeField[1] : std::string();

    // nmcli takes no user name per activation: the profile's own one applies.
    std::vector<std::string> args = {"--wait", "0", "connection", "up", "id", entry};
    std::unique_ptr<PrivateTempFile> secrets;
    const std::string setting = PasswordSetting(type);
    if (!password.empty() && !setting.empty()) {
      secrets = SecretsFile(setting, password);
      if (!secrets->Path().empty()) {
        args.push_back("passwd-file");
        args.push_back(secrets->Path());
      }
    }
    const NmcliResult up = nmcli_.Run(args, kStartTimeout);
    if (up.ran && up.exitCode == 0) return {true, {}};
    std::string reason = FirstLine(up.errorText);
    if (reason.empty()) reason = FirstLine(up.output);
    if (reason.empty()) {
      reason = up.ran ? "nmcli failed with exit code " + std::to_string(up.exitCode)
                      : "nmcli did not finish";
    }
    return {false, reason};
  }

  void HangUp(const std::string& entry) override {
    nmcli_.Run({"--wait", "15", "connection", "down", "id", entry}, kHangUpTimeout);
  }

 private:
  Nmcli nmcli_;
};

}  // namespace

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

std::unique_ptr<DialUpLines> MakeNmcliLines(Nmcli nmcli) {
  if (!nmcli.Available()) return nullptr;
  return std::make_unique<NmcliLines>(std::move(nmcli));
}

std::unique_ptr<DialUpLines> OpenDialUpLines() { return MakeNmcliLines(Nmcli(Nmcli::Find())); }

}  // namespace sentrel
