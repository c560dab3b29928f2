#include "common/text.h"

namespace sentrel {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanksView(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string TrimBlanks(std::string_view text) { return std::string(TrimBlanksView(text)); }

std::string RemoveBlanks(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (char c : text) {
    if (!IsBlank(c)) kept.push_back(c);
  }
  return kept;
}

bool ReplaceEvery(std::string& text, std::string_view placeholder, std::string_view value,
                  std::size_t maxLength) {
  std::size_t pos = text.find(placeholder);
  if (pos == std::string::npos) return true;
  std::string result;
  std::size_t from = 0;
  bool complete = true;
  for (; pos != std::string::npos; pos = text.find(placeholder, from)) {
    const std::size_t tail = text.size() - pos - placeholder.size();
    if (result.size() + (pos - from) + value.size() + tail > maxLength) {
      complete = false;
      break;
    }
    result.append(text, from, pos - from).append(value);
    from = pos + placeholder.size();
  }
  text = result.append(text, from, std::string::npos);
  return complete;
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  return hex;
}

std::vector<std::string_view> SplitAtLineBreaks(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    pieces.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

}  // namespace sentrel
