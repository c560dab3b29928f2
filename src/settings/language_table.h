#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

class IniFile;

// The window captions that a language file replaces, with their built-in
// English texts. A language file is an INI file with one section per
// window; its keys are the names of the controls.

inline constexpr std::string_view kMainFormSection = "MainForm";
inline constexpr std::string_view kHostFormSection = "HostForm";
inline constexpr std::string_view kOptionsFormSection = "OptionsForm";
inline constexpr std::string_view kPasswordFormSection = "PasswordForm";
// The buttons "Ok", "Cancel" and "Help" of the three dialogs.
inline constexpr std::string_view kButtonsSection = "Buttons";
inline constexpr std::string_view kHistoryFormSection = "HistoryForm";
inline constexpr std::string_view kImportFormSection = "ImportForm";
inline constexpr std::string_view kDiscoverFormSection = "DiscoverForm";
// The names the options dialog lists the language files by.
inline constexpr std::string_view kLanguageNamesSection = "LanguageNames";
// The key that captions a window's title bar (the password dialog's); a
// window's own name as a key does the same.
inline constexpr std::string_view kWindowTitleKey = "Caption";

// The drop-down lists whose items come from the language file. A window
// that applies the language empties such a list and adds the texts of its
// items in item order (ListCaptions); the dialog sets the selection again
// when it is next opened.
enum class CaptionList {
  kNone,
  kPingBy,      // host dialog, "Ping by": Address, Name
  kIPFamily,    // host dialog, "Address family:": Automatic (IPv4 and IPv6 are names)
  kCheckEvery,  // host dialog, "Check every": Always, Month, Week, Day
  kLogDetail,   // options dialog, "Log detail:": LogLevel1..LogLevel3
  kSendEvery,   // options dialog, "Send every": Month, Week, Day, Never
  kNetMessageCodePage,  // options dialog, messenger code page: automatic, then kReceiverCodePages
  kSendVia,     // options dialog, "Send via:": Lan, eMail
  kEncryption,  // options dialog, "Encryption:": the four SMTPSecurity values
};

// One caption of the table.
struct Caption {
  std::string_view key;    // the language key, which is the control's name
  std::string_view text;   // the built-in English text
  std::string_view shows;  // where the text is shown, also the captions that copy it
  CaptionList list = CaptionList::kNone;  // when an item of a list: the list ...
  int item = -1;                          // ... and the item's index in it
};

struct CaptionSection {
  std::string_view name;
  std::span<const Caption> captions;  // in the order in which the window sets them
};

// The sections, in the order MainForm, HostForm, OptionsForm,
// PasswordForm, Buttons, HistoryForm, LanguageNames, ImportForm,
// DiscoverForm.
std::span<const CaptionSection> CaptionSections();

// The captions of `section` (letter case ignored) in table order; empty for
// a name that is not a section of the table.
std::span<const Caption> SectionCaptions(std::string_view section);

// The entry of `key` in `section`, letter case ignored in both; nullptr when
// the table has none.
const Caption* FindCaption(std::string_view section, std::string_view key);

// The caption to show for `key` of `section`: the value that the language
// file gives for it, else the built-in text. `file` is null (or empty) when
// no language file could be read; a missing section or key also gives the
// built-in text, while a key that is present with an empty value gives an
// empty caption. A key that the table does not know and the file does not
// hold gives an empty text.
std::string CaptionText(const IniFile* file, std::string_view section, std::string_view key);
std::string CaptionText(const std::optional<IniFile>& file, std::string_view section,
                        std::string_view key);

// The item texts of `list` in item order, each read as by CaptionText.
std::vector<std::string> ListCaptions(const IniFile* file, CaptionList list);
std::vector<std::string> ListCaptions(const std::optional<IniFile>& file, CaptionList list);

// The windows that apply a language file.
enum class LanguageWindow {
  kMainForm, kHostForm, kOptionsForm, kPasswordForm, kHistoryForm, kImportForm, kDiscoverForm
};

struct CaptionRead {
  std::string_view section;
  const Caption* caption;  // never null
};

// Every caption that the loader of `window` reads, in the order in which it
// sets them:
// - main window: section MainForm;
// - host dialog: section HostForm, then from OptionsForm the keys
//   DaysOfWeek, Sunday .. Saturday, DayOfMonthLabel and TimeLabel (the
//   schedule page shares them with the options dialog; a DaysOfWeek key in
//   HostForm has no effect), then Buttons Ok, Cancel, Help;
// - options dialog: section OptionsForm, then Buttons Ok, Cancel, Help;
// - password dialog: section PasswordForm, then Buttons Ok, Cancel;
// - history window: section HistoryForm;
// - import preview and discovery: sections ImportForm and DiscoverForm.
// Captions copied from others (the trace route's time-out label, the two
// template groups, the context and tray menus) are not listed twice; the
// `shows` text of the caption that they copy names them.
std::vector<CaptionRead> WindowCaptions(LanguageWindow window);

}  // namespace sentrel
