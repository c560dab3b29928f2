#include "gui/dialogs/options_form_rules.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/text.h"
#include "platform/paths.h"

namespace sentrel {

namespace {

constexpr std::string_view kLanguageExtension = ".lng";
constexpr int kFirstDay = 1;
constexpr int kLastDay = 31;

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const std::string la = AsciiLower(a), lb = AsciiLower(b);
  return la != lb ? la < lb : a < b;
}

void AddLanguagesOf(const std::string& folder, std::vector<std::string>& found) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    const std::string name = it->path().filename().string();
    if (name.size() <= kLanguageExtension.size() || !name.ends_with(kLanguageExtension)) continue;
    std::string entry = name.substr(0, name.size() - kLanguageExtension.size());
    if (entry[0] >= 'a' && entry[0] <= 'z') entry[0] = static_cast<char>(entry[0] - 'a' + 'A');
    const bool known = std::any_of(found.begin(), found.end(), [&](const std::string& f) {
      return EqualsIgnoringCase(f, entry);
    });
    if (!known) found.push_back(std::move(entry));
  }
}

}  // namespace

std::vector<std::string> LanguageFolders() {
  const std::string program = GetProgramFolder();
  if (program.empty()) return {};
  return {program, JoinPath(program, "../share/sentrel/lang")};
}

std::vector<std::string> ListLanguageFiles(const std::vector<std::string>& folders) {
  std::vector<std::string> found;
  for (const std::string& folder : folders) {
    if (!folder.empty()) AddLanguagesOf(folder, found);
  }
  std::sort(found.begin(), found.end(), LessIgnoringCase);
  return found;
}

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
