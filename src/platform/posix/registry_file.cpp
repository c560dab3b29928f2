#include "platform/registry.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/text.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/registry_key.h"

namespace sentrel {

namespace {

constexpr std::string_view kRoot = "HKEY_CURRENT_USER";
constexpr std::size_t kMaxFileSize = 64u << 20;

bool IsPrintable(char c) { return c >= 0x20 && c <= 0x7e; }

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted.push_back('\\');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

std::string HexList(std::string_view bytes) {
  std::string list;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) list.push_back(',');
    list += ToHex(bytes.substr(i, 1));
  }
  return list;
}

std::string HexNumber(uint32_t n) {
  std::ostringstream out;
  out << std::hex << n;
  return out.str();
}

std::string FormatValue(const RegistryValue& value) {
  const std::string_view data = value.data;
  if (value.type == kRegString) {
    bool printable = true;
    for (char c : data) printable = printable && IsPrintable(c);
    if (printable) return Quote(data);
  }
  if (value.type == kRegDword && data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", n);
    return std::string("dword:") + digits;
  }
  if (value.type == kRegBinary) return "hex:" + HexList(data);
  std::string bytes(data);
  // String data is stored with its terminating zero, as on Windows.
  if (value.type == kRegString || value.type == kRegExpandString) bytes.push_back('\0');
  return "hex(" + HexNumber(value.type) + "):" + HexList(bytes);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// "41,00,ff" (blanks allowed around items; empty means no bytes).
std::optional<std::string> ParseHexList(std::string_view text) {
  std::string bytes;
  text = TrimSpaces(text);
  if (text.empty()) return bytes;
  for (;;) {
    const auto comma = text.find(',');
    const std::string_view item = TrimSpaces(text.substr(0, comma));
    if (item.size() != 2) return std::nullopt;
    const int high = HexDigit(item[0]), low = HexDigit(item[1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high << 4 | low));
    if (comma == std::string_view::npos) return bytes;
    text.remove_prefix(comma + 1);
  }
}

// Reads a quoted text starting at text[0] == '"'; `rest` gets what follows
// the closing quote. Unknown escapes keep their backslash.
std::optional<std::string> ParseQuoted(std::string_view text, std::string_view* rest) {
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      *rest = text.substr(i + 1);
      return out;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out.push_back(text[++i]);
      continue;
    }
    out.push_back(c);
  }
  return std::nullopt;
}

std::optional<RegistryValue> ParseData(std::string_view text) {
  text = TrimSpaces(text);
  if (!text.empty() && text.front() == '"') {
    std::string_view rest;
    auto data = ParseQuoted(text, &rest);
    if (!data || !TrimSpaces(rest).empty()) return std::nullopt;
    return RegistryValue{kRegString, std::move(*data)};
  }
  const std::string lower = AsciiLower(text.substr(0, 6));
  if (lower.starts_with("dword:")) {
    const std::string_view digits = text.substr(6);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t n = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      n = n << 4 | static_cast<uint32_t>(d);
    }
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>(n >> (8 * i));
    return RegistryValue{kRegDword, bytes};
  }
  uint32_t type = kRegBinary;
  if (lower.starts_with("hex:")) {
    text.remove_prefix(4);
  } else if (lower.starts_with("hex(")) {
    const auto close = text.find("):");
    if (close == std::string_view::npos || close == 4 || close > 12) return std::nullopt;
    type = 0;
    for (char c : text.substr(4, close - 4)) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      type = type << 4 | static_cast<uint32_t>(d);
    }
    text.remove_prefix(close + 2);
  } else {
    return std::nullopt;
  }
  auto bytes = ParseHexList(text);
  if (!bytes) return std::nullopt;
  if ((type == kRegString || type == kRegExpandString) && !bytes->empty() &&
      bytes->back() == '\0') {
    bytes->pop_back();
  }
  return RegistryValue{type, std::move(*bytes)};
}

// Splits into lines (CR LF or LF), joining hex data continued with a
// trailing backslash as the export format wraps it.
struct Line {
  std::size_t number;  // of its first physical line, from 1
  std::string text;
};

std::vector<Line> LogicalLines(std::string_view text) {
  std::vector<Line> lines;
  std::string current;
  bool continuing = false;
  std::size_t number = 0, first = 1;
  while (!text.empty()) {
    ++number;
    if (!continuing) first = number;
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (continuing) line = TrimSpaces(line);
    current.append(line);
    const std::string_view sofar = TrimSpaces(current);
    continuing = sofar.size() >= 2 && sofar.ends_with(",\\") && sofar.front() != '[';
    if (continuing) {
      current.resize(current.rfind('\\'));
      continue;
    }
    lines.push_back(Line{first, std::move(current)});
    current.clear();
  }
  if (!current.empty()) lines.push_back(Line{first, std::move(current)});
  return lines;
}

// Creates the missing folders of `folder`, each private to the user.
bool MakeFolders(const std::string& folder, std::string* error) {
  std::string path;
  std::size_t start = 0;
  while (start <= folder.size()) {
    const auto slash = folder.find('/', start);
    path = folder.substr(0, slash);
    start = slash == std::string::npos ? folder.size() + 1 : slash + 1;
    if (path.empty()) continue;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      if (error) *error = "Cannot create the folder \"" + path + "\": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

std::string Registry::DefaultPath() {
  const std::string folder = GetConfigFolder();
  return folder.empty() ? std::string() : JoinPath(folder, "registry.reg");
}

bool Registry::Load(std::string* warning) {
  std::lock_guard lock(mutex_);
  changes_.clear();
  return LoadLocked(warning);
}

bool Registry::LoadLocked(std::string* warning) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0 && errno == ENOENT) {
      keys_.clear();
      damaged_ = false;
      return true;
    }
    if (warning) *warning = "Cannot read \"" + path_ + "\"";
    return false;
  }
  std::string text;
  char buffer[65536];
  while (text.size() <= kMaxFileSize && in) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) {
    if (warning) *warning = "Cannot read \"" + path_ + "\"";
    return false;
  }
  keys_.clear();
  damaged_ = false;
  if (text.size() > kMaxFileSize) {
    text.resize(kMaxFileSize);
    damaged_ = true;
    if (warning) *warning = "\"" + path_ + "\" is too large; only its beginning was read";
  }
  Parse(text, damaged_ ? nullptr : warning);
  return true;
}

void Registry::Parse(std::string_view text, std::string* warning) {
  auto damage = [&](std::size_t lineNumber) {
    if (!damaged_ && warning) {
      *warning = "\"" + path_ + "\" line " + std::to_string(lineNumber) + " is not valid";
    }
    damaged_ = true;
  };
  if (text.starts_with("\xef\xbb\xbf")) text.remove_prefix(3);
  const std::vector<Line> lines = LogicalLines(text);
  std::optional<std::string> key;  // nothing: no key, or values to skip
  bool skipping = false;           // inside a key that is not ours
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = TrimSpaces(lines[i].text);
    const std::size_t number = lines[i].number;
    if (i == 0) {
      if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00") damage(1);
      if (line.starts_with("REGEDIT4") || line.starts_with("Windows Registry Editor")) continue;
    }
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      key.reset();
      skipping = true;
      if (line.back() != ']' || line.size() < 2) {
        damage(number);
        continue;
      }
      std::string_view inner = line.substr(1, line.size() - 2);
      const bool remove = inner.starts_with("-");
      if (remove) inner.remove_prefix(1);
      const auto slash = inner.find('\\');
      if (!EqualsIgnoringCase(inner.substr(0, slash), kRoot) &&
          !EqualsIgnoringCase(inner.substr(0, slash), "HKCU")) {
        continue;  // another hive: not ours, and not damage
      }
      const auto path = CleanRegistryKey(slash == std::string_view::npos ? "" : inner.substr(slash + 1));
      if (!path) {
        if (slash != std::string_view::npos) damage(number);
        continue;
      }
      if (remove) {
        const std::string lower = AsciiLower(*path);
        for (auto it = keys_.begin(); it != keys_.end();) {
          const bool below = it->first == lower || it->first.starts_with(lower + "\\");
          it = below ? keys_.erase(it) : std::next(it);
        }
        continue;
      }
      key = *path;
      skipping = false;
      continue;
    }
    std::string name;
    std::string_view rest;
    if (line.front() == '@') {
      rest = line.substr(1);
    } else if (line.front() == '"') {
      auto quoted = ParseQuoted(line, &rest);
      if (!quoted) {
        damage(number);
        continue;
      }
      name = std::move(*quoted);
    } else {
      damage(number);
      continue;
    }
    rest = TrimSpaces(rest);
    if (rest.empty() || rest.front() != '=') {
      damage(number);
      continue;
    }
    rest.remove_prefix(1);
    if (!key) {
      if (!skipping) damage(number);
      continue;
    }
    if (TrimSpaces(rest) == "-") {
      const auto found = keys_.find(AsciiLower(*key));
      if (found != keys_.end()) {
        auto& values = found->second.values;
        std::erase_if(values, [&](const Value& v) { return EqualsIgnoringCase(v.name, name); });
      }
      continue;
    }
    auto value = ParseData(rest);
    if (!value || !Put(*key, name, std::move(*value))) damage(number);
  }
}

std::string Registry::Serialize() const {
  std::string text = "REGEDIT4\r\n";
  for (const auto& [lower, key] : keys_) {
    if (key.values.empty()) continue;
    text += "\r\n[" + std::string(kRoot) + "\\" + key.name + "]\r\n";
    for (const Value& value : key.values) {
      text += value.name.empty() ? std::string("@") : Quote(value.name);
      text += "=" + FormatValue(value.value) + "\r\n";
    }
  }
  return text;
}

bool Registry::Save(std::string* error) {
  if (path_.empty()) {
    if (error) *error = "No folder for the settings (neither XDG_CONFIG_HOME nor HOME is set)";
    return false;
  }
  const auto slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path_.substr(0, slash), error)) {
    return false;
  }
  std::lock_guard lock(mutex_);
  // What others wrote since the last read stays; only our own changes go on top.
  if (std::string reason; !LoadLocked(&reason)) {
    if (error) *error = reason;
    return false;
  }
  ApplyChanges();
  // A damaged file is kept aside once, so that what could not be read is not lost.
  const std::string aside = damaged_ ? path_ + ".damaged" : std::string();
  if (!WritePrivateFileAtomically(path_, Serialize(), aside, error)) return false;
  changes_.clear();
  damaged_ = false;
  return true;
}

}  // namespace sentrel
