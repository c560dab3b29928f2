#include "gui/dialogs/options_form_rules.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"

namespace sentrel {

namespace {

constexpr int kFirstDay = 1;
constexpr int kLastDay = 31;

}  // namespace

std::optional<std::size_t> FindLanguage(const std::vector<std::string>& languages,
                                        std::string_view language) {
  for (std::size_t i = 0; i < languages.size(); ++i) {
    if (EqualsIgnoringCase(languages[i], language)) return i;
  }
  return std::nullopt;
}

std::vector<std::string> ConnectionChoices(const std::vector<std::string>& entries) {
  std::vector<std::string> choices{kNoConnection};
  if (entries.size() <= kPhoneBookRoom) choices.insert(choices.end(), entries.begin(), entries.end());
  return choices;
}

std::size_t ConnectionIndex(const std::vector<std::string>& choices, std::string_view connection) {
  const auto it = std::find(choices.begin(), choices.end(), connection);
  return it == choices.end() ? 0 : static_cast<std::size_t>(it - choices.begin());
}

std::optional<int> DayFieldCorrection(std::string_view text) {
  // Read as the field's number: an optional sign, then digits; the value
  // saturates instead of wrapping, so a long pasted number stays "too big".
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = std::min(value * 10 + (text[i] - '0'), 1000L);
  if (negative) value = -value;
  if (value < kFirstDay) return kFirstDay;
  if (value > kLastDay) return kLastDay;
  return std::nullopt;
}

OptionsEnabling EnablingFor(bool dialUpSelected, int sendEvery) {
  return {dialUpSelected, sendEvery == kSendMonth, sendEvery == kSendWeek, sendEvery != kSendNever};
}

int HelpContextForPage(int page) {
  // Pages outside the four (there are none) fall back to the first topic.
  return page >= 0 && page <= 3 ? 30 + 10 * page : 30;
}

std::string TimeSlotCaption(int slot) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d.%s", (slot / 2) % 24, slot % 2 ? "30" : "00");
  return text;
}

}  // namespace sentrel
