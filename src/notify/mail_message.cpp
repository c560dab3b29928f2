#include "notify/mail_message.h"

#include <cstdio>
#include <cstdlib>

#include "common/text.h"

namespace sentrel {

namespace {

std::string_view StripCodesUpTo(std::string_view text, unsigned char limit) {
  auto low = [limit](char c) { return static_cast<unsigned char>(c) <= limit; };
  while (!text.empty() && low(text.front())) text.remove_prefix(1);
  while (!text.empty() && low(text.back())) text.remove_suffix(1);
  return text;
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
  const std::size_t cut = list.find_first_of(",;");
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

std::vector<std::string> BuildMessageLines(std::string_view from, std::string_view to,
                                           std::string_view subject, std::string_view date,
                                           std::string_view body) {
  std::vector<std::string> lines;
  lines.push_back("From: " + HeaderValue(from));
  lines.push_back("To: " + HeaderValue(to));
  lines.push_back("Date: " + HeaderValue(date));
  if (subject != kMailNoSubject) lines.push_back("Subject: " + HeaderValue(subject));
  lines.push_back("X-mailer: Sentrel");
  lines.emplace_back();
  for (std::string& line : TextLines("\r\n" + std::string(body))) lines.push_back(std::move(line));
  return lines;
}

}  // namespace sentrel
