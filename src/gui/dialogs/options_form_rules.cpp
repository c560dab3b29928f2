#include "gui/dialogs/options_form_rules.h"

#include <algorithm>
#include <iterator>

#include "common/text.h"
#include "settings/code_page.h"

namespace sentrel {

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

OptionsEnabling EnablingFor(bool dialUpSelected, int sendEvery) {
  return {dialUpSelected, sendEvery == kSendMonth, sendEvery == kSendWeek, sendEvery != kSendNever};
}

int HelpContextForPage(int page) {
  // Pages outside the five (there are none) fall back to the first topic.
  return page >= 0 && page <= 4 ? 30 + 10 * page : 30;
}

int CodePageItem(int netMessageCodePage) {
  for (std::size_t i = 0; i < std::size(kReceiverCodePages); ++i) {
    if (kReceiverCodePages[i] == netMessageCodePage) return static_cast<int>(i) + 1;
  }
  return 0;
}

int CodePageOfItem(int item) {
  if (item < 1 || static_cast<std::size_t>(item) > std::size(kReceiverCodePages)) return 0;
  return kReceiverCodePages[static_cast<std::size_t>(item) - 1];
}

std::optional<std::string> FollowingPort(std::string_view portText, int security) {
  static constexpr std::string_view kUsual[] = {"25", "25", "587", "465"};
  if (security < 0 || security > 3) return std::nullopt;
  const bool usual = portText.empty() || portText == "25" || portText == "587" || portText == "465";
  if (!usual || portText == kUsual[security]) return std::nullopt;
  return std::string(kUsual[security]);
}

}  // namespace sentrel
