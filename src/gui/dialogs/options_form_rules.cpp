#include "gui/dialogs/options_form_rules.h"

#include <algorithm>

#include "common/text.h"

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
  // Pages outside the four (there are none) fall back to the first topic.
  return page >= 0 && page <= 3 ? 30 + 10 * page : 30;
}

std::optional<std::string> FollowingPort(std::string_view portText, int security) {
  static constexpr std::string_view kUsual[] = {"25", "25", "587", "465"};
  if (security < 0 || security > 3) return std::nullopt;
  const bool usual = portText.empty() || portText == "25" || portText == "587" || portText == "465";
  if (!usual || portText == kUsual[security]) return std::nullopt;
  return std::string(kUsual[security]);
}

}  // namespace sentrel
