#include "platform/http_client.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace sentrel {

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
long long DaysFromCivil(int year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", the one date form senders must use.
std::optional<long long> ParseImfDate(const std::string& text) {
  char weekday[4] = {};
  char monthName[4] = {};
  char zone[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text.c_str(), "%3s, %d %3s %d %d:%d:%d %3s", weekday, &day, monthName, &year,
                  &hour, &minute, &second, zone) != 8 ||
      std::strcmp(zone, "GMT") != 0) {
    return std::nullopt;
  }
  static constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  unsigned month = 0;
  for (unsigned i = 0; i < kMonths.size(); ++i) {
    if (std::strcmp(monthName, kMonths[i]) == 0) month = i + 1;
  }
  if (month == 0 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || hour < 0 ||
      minute < 0 || second < 0) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, static_cast<unsigned>(day)) * 86400 + hour * 3600 +
         minute * 60 + second;
}

}  // namespace

std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value, long long now) {
  std::size_t begin = 0;
  std::size_t end = value.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(value[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(value[end - 1]))) --end;
  const std::string text = value.substr(begin, end - begin);
  if (text.empty()) return std::nullopt;
  bool digits = true;
  for (char c : text) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (digits) {
    // A day is more than any sender could mean; longer only overflows.
    if (text.size() > 9) return std::chrono::seconds(999999999);
    return std::chrono::seconds(std::stoll(text));
  }
  const auto when = ParseImfDate(text);
  if (!when) return std::nullopt;
  return std::chrono::seconds(*when > now ? *when - now : 0);
}

const char* HttpFailureText(HttpFailure failure) {
  switch (failure) {
    case HttpFailure::None: return "answered";
    case HttpFailure::Connect: return "could not connect";
    case HttpFailure::Timeout: return "timed out";
    case HttpFailure::Certificate: return "certificate refused";
    case HttpFailure::Aborted: return "aborted";
    case HttpFailure::BadRequest: return "request refused before sending";
    case HttpFailure::Other: return "transfer failed";
  }
  return "transfer failed";
}

}  // namespace sentrel
