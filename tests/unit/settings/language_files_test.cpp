#include "settings/language_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "english_language_file.h"
#include "fakes/test_files.h"
#include "platform/paths.h"
#include "settings/language_table.h"
#include "settings/language_text.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using testing::PutFile;
using testing::ReadFile;
using Strings = std::vector<std::string>;

const fs::path kShipped = fs::path(SENTREL_SOURCE_DIR) / "resources/lang";

TEST(LanguageTableTest, CaptionFallsBackToTheBuiltInText) {
  // No file at all.
  EXPECT_EQ(CaptionText(nullptr, "MainForm", "Header2"), " Computer name or description");
  EXPECT_EQ(CaptionText(std::nullopt, "HostForm", "ShowBox"), "&Show  message box");
  // A file whose only section is Buttons renames "Ok" and nothing else.
  const IniFile buttons = IniFile::Parse("[Buttons]\nOk=Fine\n");
  EXPECT_EQ(CaptionText(&buttons, "Buttons", "Ok"), "Fine");
  EXPECT_EQ(CaptionText(&buttons, "Buttons", "Cancel"), "Cancel");
  EXPECT_EQ(CaptionText(&buttons, "PasswordForm", "Caption"), "Password");
  // An empty value is an empty caption; letter case does not matter.
  const IniFile file = IniFile::Parse("[hostform]\nGrayLight=\ntimeout=Zeit:\n");
  EXPECT_EQ(CaptionText(&file, "HostForm", "GrayLight"), "");
  EXPECT_EQ(CaptionText(&file, "HOSTFORM", "TimeOut"), "Zeit:");
  EXPECT_EQ(CaptionText(&file, "HostForm", "RedLight"), "Host isn't available.");
  // A key outside the table has no built-in text.
  EXPECT_EQ(CaptionText(&file, "HostForm", "NoSuchControl"), "");
}

TEST(LanguageTableTest, ListsAreRefilledInItemOrder) {
  EXPECT_EQ(ListCaptions(nullptr, CaptionList::kPingBy), (Strings{"Address", "Name"}));
  EXPECT_EQ(ListCaptions(nullptr, CaptionList::kCheckEvery),
            (Strings{"Always", "every Month", "every Week", "every Day"}));
  EXPECT_EQ(ListCaptions(nullptr, CaptionList::kSendEvery),
            (Strings{"Month", "Week", "Day", "Never"}));
  // The same keys name items of two lists in two sections.
  const IniFile file = IniFile::Parse("[HostForm]\nWeek=weekly\n[OptionsForm]\nDay=daily\n");
  EXPECT_EQ(ListCaptions(&file, CaptionList::kCheckEvery),
            (Strings{"Always", "every Month", "weekly", "every Day"}));
  EXPECT_EQ(ListCaptions(&file, CaptionList::kSendEvery),
            (Strings{"Month", "Week", "daily", "Never"}));
}

TEST(LanguageTableTest, HostDialogTakesTheScheduleCaptionsFromTheOptions) {
  const IniFile file = IniFile::Parse(
      "[HostForm]\nDaysOfWeek=ignored\n[OptionsForm]\nDaysOfWeek=Wochentage\nSunday=Sonntag\n");
  Strings texts;
  for (const CaptionRead& read : WindowCaptions(LanguageWindow::kHostForm)) {
    if (read.section == kHostFormSection) continue;
    texts.push_back(CaptionText(&file, read.section, read.caption->key));
  }
  EXPECT_EQ(texts, (Strings{"Wochentage", "Sonntag", "Monday", "Tuesday", "Wednesday", "Thursday",
                            "Friday", "Saturday", "Day:", "Time:", "Ok", "Cancel", "Help"}));
  // The password dialog has no "Help".
  EXPECT_EQ(WindowCaptions(LanguageWindow::kPasswordForm).back().caption->key, "Cancel");
}

class LanguageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sentrel-lang-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_F(LanguageFilesTest, ListsAndFindsFilesInFolderOrder) {
  const fs::path program = dir_ / "bin";
  const fs::path data = dir_ / "share";
  PutFile(program / "english.lng", "[Buttons]\nOk=program\n");
  PutFile(program / "German.LNG", "[Buttons]\nOk=Gut\n");
  PutFile(program / "notes.txt", "");
  PutFile(program / ".lng", "");
  fs::create_directories(program / "folder.lng");
  PutFile(data / "English.lng", "[Buttons]\nOk=data\n");
  PutFile(data / "russian.lng", "");
  const std::vector<fs::path> folders = {program, dir_ / "missing", data};

  EXPECT_EQ(ListLanguageFiles(folders), (Strings{"English", "German", "Russian"}));
  EXPECT_EQ(FindLanguageFile(folders, "English"), program / "english.lng");
  EXPECT_EQ(FindLanguageFile(folders, "GERMAN"), program / "German.LNG");
  EXPECT_EQ(FindLanguageFile(folders, "Russian"), data / "russian.lng");
  EXPECT_EQ(FindLanguageFile({data, program}, "english"), data / "English.lng");
  for (const char* none : {"", "French", "folder", "../share/English", "notes"}) {
    EXPECT_EQ(FindLanguageFile(folders, none), std::nullopt) << none;
  }
  EXPECT_EQ(FindLanguageFile(folders, std::string_view("English\0x", 9)), std::nullopt);
  EXPECT_EQ(CaptionText(LoadLanguage("English", folders), "Buttons", "Ok"), "program");
  EXPECT_TRUE(ListLanguageFiles({dir_ / "missing"}).empty());
}

TEST_F(LanguageFilesTest, LoadsDecodedFilesAndRefusesWhatIsNoLanguageFile) {
  // ОК in Windows-1251.
  PutFile(dir_ / "Russian.lng", "[Buttons]\r\nOk=\xCE\xCA\r\n");
  const auto russian = LoadLanguageFile(dir_ / "Russian.lng");
  ASSERT_TRUE(russian.has_value());
  EXPECT_EQ(russian->Get("Buttons", "Ok"), "\xD0\x9E\xD0\x9A");

  PutFile(dir_ / "Huge.lng", "[Buttons]\nOk=big\n" + std::string(kMaxLanguageFileSize, ';'));
  fs::create_directories(dir_ / "Folder.lng");
  EXPECT_EQ(LoadLanguageFile(dir_ / "Huge.lng"), std::nullopt);
  EXPECT_EQ(LoadLanguageFile(dir_ / "Folder.lng"), std::nullopt);
  EXPECT_EQ(LoadLanguageFile(dir_ / "Missing.lng"), std::nullopt);
  EXPECT_EQ(CaptionText(LoadLanguage("Huge", {dir_}), "Buttons", "Ok"), "Ok");
}

TEST(LanguageFoldersTest, ProgramFolderFirstEachOnce) {
  const auto folders = LanguageFolders();
  ASSERT_FALSE(folders.empty());
  EXPECT_EQ(folders.front(), fs::weakly_canonical(GetProgramFolder()));
  EXPECT_EQ(std::set<fs::path>(folders.begin(), folders.end()).size(), folders.size());
}

// The number of accelerator marks: "&" before a character, "&&" being a
// literal "&".
int Accelerators(std::string_view text) {
  int marks = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (i + 1 < text.size() && text[i + 1] == '&') {
      ++i;
    } else {
      ++marks;
    }
  }
  return marks;
}

TEST(ShippedLanguageFilesTest, EveryFileHoldsEveryKeyAndNoOther) {
  EXPECT_EQ(ListLanguageFiles({kShipped}), (Strings{"English", "German", "Russian"}));
  for (const std::string& language : ListLanguageFiles({kShipped})) {
    SCOPED_TRACE(language);
    const std::string bytes = ReadFile(kShipped / (language + ".lng"));
    EXPECT_EQ(DecodeLanguageText(bytes).code_page, kUtf8CodePage);
    const auto file = LoadLanguage(language, {kShipped});
    ASSERT_TRUE(file.has_value());
    for (const std::string& section : file->Sections()) {
      // The one section besides the captions' describes the file: its code
      // page and the locale of its language.
      if (EqualsIgnoringCase(section, "Language")) {
        for (const std::string& key : file->Keys(section))
          EXPECT_TRUE(key == "CodePage" || key == "Locale") << "unknown key Language." << key;
        continue;
      }
      EXPECT_FALSE(SectionCaptions(section).empty()) << "unknown section " << section;
      for (const std::string& key : file->Keys(section)) {
        EXPECT_NE(FindCaption(section, key), nullptr) << "unknown key " << section << "." << key;
      }
    }
    for (const CaptionSection& section : CaptionSections()) {
      for (const Caption& caption : section.captions) {
        const auto value = file->Get(section.name, caption.key);
        ASSERT_TRUE(value.has_value()) << "missing " << section.name << "." << caption.key;
        EXPECT_FALSE(value->empty()) << section.name << "." << caption.key;
        // A caption with an access key keeps exactly one; one without gets none.
        EXPECT_EQ(Accelerators(*value), Accelerators(caption.text))
            << section.name << "." << caption.key << "=" << *value;
      }
    }
  }
}

TEST(ShippedLanguageFilesTest, EnglishFileIsTheTable) {
  EXPECT_EQ(ReadFile(kShipped / "English.lng"), testing::EnglishLanguageFile())
      << "regenerate it: make_english_lng > resources/lang/English.lng";
  const auto english = LoadLanguage("English", {kShipped});
  ASSERT_TRUE(english.has_value());
  for (const CaptionSection& section : CaptionSections()) {
    for (const Caption& caption : section.captions) {
      EXPECT_EQ(english->Get(section.name, caption.key), std::string(caption.text));
    }
  }
}

}  // namespace
}  // namespace sentrel
