#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// The rules of the options dialog that need no window.

// The index of the entry equal to `language` without regard to letter case;
// nothing when there is none.
std::optional<std::size_t> FindLanguage(const std::vector<std::string>& languages,
                                        std::string_view language);

// The phone book holds room for this many entries; a longer listing counts
// as a failed one.
inline constexpr std::size_t kPhoneBookRoom = 100;
inline constexpr const char* kNoConnection = "None";

// The items of "Connection:": "None", then the phone-book entries. A failed
// listing (empty) or one of more than kPhoneBookRoom entries adds none.
std::vector<std::string> ConnectionChoices(const std::vector<std::string>& entries);

// The item to select for the stored `connection`: the equal one, else 0
// ("None").
std::size_t ConnectionIndex(const std::vector<std::string>& choices, std::string_view connection);

// Items of "Send every".
enum SendEveryItem { kSendMonth = 0, kSendWeek = 1, kSendDay = 2, kSendNever = 3 };

// Items of the messenger code page list: 0 automatic, then the receivers'
// code pages in kReceiverCodePages order. An option value of no item reads
// as automatic.
int CodePageItem(int netMessageCodePage);
int CodePageOfItem(int item);

// Which controls are enabled, from the two controls that rule them.
struct OptionsEnabling {
  bool dialUpOptions = false;  // "Disconnect after transfer", connection, login, password
  bool dayOfMonth = false;
  bool daysOfWeek = false;
  bool times = false;
};
OptionsEnabling EnablingFor(bool dialUpSelected, int sendEvery);

// The port that goes with an encryption choice (SMTPSecurity 0..3): 25 for
// none and for STARTTLS when offered (a relay's port), 587 for STARTTLS
// required (submission), 465 for TLS from the first byte. The port field
// follows a new choice only while it holds one of these or nothing, so a
// port the user typed stays; nothing when it stays.
std::optional<std::string> FollowingPort(std::string_view portText, int security);

// The help topic of each page: 30 "Interface", 40 "Log settings",
// 50 "eMail Settings", 60 "Status notification".
int HelpContextForPage(int page);

}  // namespace sentrel
