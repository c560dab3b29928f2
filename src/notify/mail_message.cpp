#include "notify/mail_message.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "common/base64.h"
#include "common/text.h"
#include "settings/utf8_text.h"

namespace sentrel {

namespace {

std::string_view StripCodesUpTo(std::string_view text, unsigned char limit) {
  auto low = [limit](char c) { return static_cast<unsigned char>(c) <= limit; };
  while (!text.empty() && low(text.front())) text.remove_prefix(1);
  while (!text.empty() && low(text.back())) text.remove_suffix(1);
  return text;
}

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Encoded words of at most 75 characters (RFC 2047): 45 bytes give 60
// Base64 characters, "=?UTF-8?B?" and "?=" the other 12. A cut never splits
// a character, so that each word decodes on its own.
std::vector<std::string> EncodedWords(std::string_view text) {
  constexpr std::size_t kBytesPerWord = 45;
  std::vector<std::string> words;
  while (!text.empty()) {
    std::size_t cut = std::min(text.size(), kBytesPerWord);
    while (cut < text.size() && cut > 1 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
      --cut;
    }
    words.push_back("=?UTF-8?B?" + Base64Encode(text.substr(0, cut)) + "?=");
    text.remove_prefix(cut);
  }
  return words;
}

// One encoded word per line, the lines after the first folded (starting
// with a blank); a header of one word stays on its line.
void AppendEncodedHeader(std::vector<std::string>& lines, std::string_view name,
                         std::string_view value) {
  const std::vector<std::string> words = EncodedWords(value);
  lines.push_back(std::string(name) + ": " + (words.empty() ? "" : words.front()));
  for (std::size_t i = 1; i < words.size(); ++i) lines.push_back(" " + words[i]);
}

// The first "," or ";" of `list` outside a quoted string, or npos. An
// unclosed quote quotes nothing: then the first separator counts.
std::size_t SeparatorOutsideQuotes(std::string_view list) {
  bool quoted = false;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const char c = list[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',' || c == ';') {
      return i;
    }
  }
  return quoted ? list.find_first_of(",;") : std::string_view::npos;
}

// An address item for a MIME header: a display name outside ASCII as
// encoded words (quotes dropped, since encoded words may not stand inside
// them), the address as it was; anything else trimmed and unchanged.
std::string EncodedAddressItem(std::string_view item) {
  item = TrimBlanksView(item);
  const std::size_t open = item.find('<');
  if (IsAscii(item) || open == std::string_view::npos) return std::string(item);
  std::string_view name = TrimBlanksView(item.substr(0, open));
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name = name.substr(1, name.size() - 2);
  }
  std::string encoded;
  for (const std::string& word : EncodedWords(name)) encoded += word + " ";
  return encoded.append(item.substr(open));
}

// An RFC 5322 address list: the items joined by ", ", empty ones left out.
std::string EncodedAddressList(std::string_view list) {
  std::string encoded;
  std::string_view item;
  while (NextRecipientItem(list, item)) {
    if (TrimBlanksView(item).empty()) continue;
    if (!encoded.empty()) encoded += ", ";
    encoded += EncodedAddressItem(item);
  }
  return encoded;
}

// `line` as a header field folded at blanks into lines of at most `width`
// characters where it has blanks to fold at (RFC 5322 folding: a reader
// unfolds it to the same value).
void AppendFolded(std::vector<std::string>& lines, std::string line, std::size_t width) {
  while (line.size() > width) {
    std::size_t cut = line.rfind(' ', width);
    if (cut == std::string::npos || cut == 0) cut = line.find(' ', width);
    if (cut == std::string::npos) break;
    lines.push_back(line.substr(0, cut));
    line.erase(0, cut);
  }
  lines.push_back(std::move(line));
}

bool Overlong(std::string_view line) {
  return line.size() + (line.starts_with('.') ? 1 : 0) > kMaxLineBytes;
}

// One body line in quoted-printable (RFC 2045): "=", bytes outside ASCII
// and a blank at the line's end as "=XX", soft breaks ("=" at the end)
// keeping every line within 76 characters.
void AppendQuotedPrintable(std::vector<std::string>& lines, std::string_view line) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    const bool last = i + 1 == line.size();
    std::string piece(1, line[i]);
    if (byte == '=' || byte >= 0x80 || byte < 0x20 || ((byte == ' ' || byte == '\t') && last)) {
      piece = {'=', kHex[byte >> 4], kHex[byte & 15]};
    }
    if (out.size() + piece.size() > 75) {
      lines.push_back(out + "=");
      out.clear();
    }
    out += piece;
  }
  lines.push_back(std::move(out));
}

}  // namespace

std::string ExtractAddress(std::string_view text, bool recipientItem) {
  if (recipientItem) text = StripCodesUpTo(text, 34);
  if (const std::size_t open = text.find('<'); open != std::string_view::npos) {
    text.remove_prefix(open + 1);
  }
  if (const std::size_t close = text.find('>'); close != std::string_view::npos) {
    text = text.substr(0, close);
  }
  text = StripCodesUpTo(text, 32);
  std::string address;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 32 && c != 127) address += c;
  }
  return address;
}

bool NextRecipientItem(std::string_view& list, std::string_view& item) {
  if (list.empty()) return false;
  const std::size_t cut = SeparatorOutsideQuotes(list);
  if (cut == std::string_view::npos) {
    item = list;
    list = {};
  } else {
    item = list.substr(0, cut);
    list.remove_prefix(cut + 1);
  }
  return true;
}

std::string Rfc5322Date(DateTime local, int utcOffsetMinutes) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const CivilDateTime c = DecodeDateTime(local);
  const int offset = std::abs(utcOffsetMinutes);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %.2d:%.2d:%.2d %c%.2d%.2d",
                kDays[DayOfWeek(local)], c.day, kMonths[c.month - 1], c.year, c.hour, c.minute,
                c.second, utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

std::string HeaderValue(std::string_view text) {
  std::string value;
  for (const char c : text) {
    if (c != '\r' && c != '\n') value += c;
  }
  return value;
}

std::vector<std::string> TextLines(std::string_view text) {
  std::vector<std::string_view> pieces = SplitAtLineBreaks(text);
  // A break at the very end starts no further line.
  if (pieces.back().empty()) pieces.pop_back();
  return {pieces.begin(), pieces.end()};
}

bool HasOverlongLine(std::string_view body) {
  for (const std::string_view line : SplitAtLineBreaks(body)) {
    if (Overlong(line)) return true;
  }
  return false;
}

bool NeedsMime(std::string_view from, std::string_view to, std::string_view subject,
               std::string_view body) {
  return !IsAscii(from) || !IsAscii(to) || (subject != kMailNoSubject && !IsAscii(subject)) ||
         !IsAscii(body) || HasOverlongLine(body);
}

std::size_t MessageSize(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines) {
    for (const std::string_view piece : SplitAtLineBreaks(line)) size += piece.size() + 2;
  }
  return size;
}

MailMessage BuildMessage(std::string_view from, std::string_view to, std::string_view subject,
                         std::string_view date, std::string_view body, bool eightBitAnnounced) {
  const bool mime = NeedsMime(from, to, subject, body);
  const bool quotedPrintable = mime && (!eightBitAnnounced || HasOverlongLine(body));
  MailMessage message;
  message.eightBit = mime && !quotedPrintable;
  std::vector<std::string>& lines = message.lines;
  // Encoded address lists fold at the usual 78 characters; other header
  // lines only where SMTP could not carry them whole.
  const auto addresses = [&lines, mime](std::string_view name, std::string_view list) {
    if (mime) return AppendFolded(lines, std::string(name) + EncodedAddressList(HeaderValue(list)), 76);
    AppendFolded(lines, std::string(name) + HeaderValue(list), kMaxLineBytes);
  };
  addresses("From: ", from);
  addresses("To: ", to);
  lines.push_back("Date: " + HeaderValue(date));
  if (subject != kMailNoSubject) {
    std::vector<std::string> folded;
    AppendFolded(folded, "Subject: " + HeaderValue(subject), kMaxLineBytes);
    const bool unbroken = std::any_of(folded.begin(), folded.end(),
                                      [](const std::string& line) { return Overlong(line); });
    if (IsAscii(subject) && !unbroken) {
      lines.insert(lines.end(), folded.begin(), folded.end());
    } else {
      AppendEncodedHeader(lines, "Subject", HeaderValue(subject));
    }
  }
  lines.push_back("X-mailer: Sentrel");
  if (mime) {
    lines.push_back("MIME-Version: 1.0");
    lines.push_back("Content-Type: text/plain; charset=UTF-8");
    lines.push_back(std::string("Content-Transfer-Encoding: ") +
                    (quotedPrintable ? "quoted-printable" : "8bit"));
  }
  lines.emplace_back();
  for (std::string& line : TextLines("\r\n" + std::string(body))) {
    if (!mime) {
      lines.push_back(std::move(line));
    } else if (quotedPrintable) {
      AppendQuotedPrintable(lines, RepairUtf8(line));
    } else {
      lines.push_back(RepairUtf8(line));
    }
  }
  return message;
}

std::vector<std::string> BuildMessageLines(std::string_view from, std::string_view to,
                                           std::string_view subject, std::string_view date,
                                           std::string_view body, bool eightBitAnnounced) {
  return BuildMessage(from, to, subject, date, body, eightBitAnnounced).lines;
}

}  // namespace sentrel
