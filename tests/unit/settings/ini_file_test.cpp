#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "settings/utf8_text.h"

namespace sentrel {
namespace {

using Strings = std::vector<std::string>;

TEST(IniFileTest, NamesIgnoreLetterCaseAndValuesLoseBlanksAndQuotes) {
  const IniFile ini = IniFile::Parse(
      "[MainForm]\n"
      "FileItem=&Datei\n"
      "  pingitem  =   &Pingen   \n"
      "Header2=\" Rechnername\"\n"
      "Single='quoted'\n"
      "Mixed=\"left'\n"
      "Lone=\"\n"
      "Inner=a \"b\" c\n"
      "Equals=a=b\n"
      "Empty=\n"
      "Blank=   \n"
      "[ HostForm ]\n"
      "GrayLight=\"\"\n");
  EXPECT_EQ(ini.Get("mainform", "FILEITEM"), "&Datei");
  EXPECT_EQ(ini.Get("MainForm", "PingItem"), "&Pingen");
  EXPECT_EQ(ini.Get("MainForm", "Header2"), " Rechnername");
  EXPECT_EQ(ini.Get("MainForm", "Single"), "quoted");
  EXPECT_EQ(ini.Get("MainForm", "Mixed"), "\"left'");
  EXPECT_EQ(ini.Get("MainForm", "Lone"), "\"");
  EXPECT_EQ(ini.Get("MainForm", "Inner"), "a \"b\" c");
  EXPECT_EQ(ini.Get("MainForm", "Equals"), "a=b");
  EXPECT_EQ(ini.Get("MainForm", "Empty"), "");
  EXPECT_EQ(ini.Get("MainForm", "Blank"), "");
  EXPECT_EQ(ini.Get("hostform", "graylight"), "");
  EXPECT_EQ(ini.Get("MainForm", "Missing"), std::nullopt);
  EXPECT_EQ(ini.Get("Buttons", "Ok"), std::nullopt);
  EXPECT_EQ(ini.Sections(), (Strings{"MainForm", "HostForm"}));
}

TEST(IniFileTest, LinesThatAreNoEntriesAreIgnored) {
  const IniFile ini = IniFile::Parse(
      "Ok=before any section\r\n"
      "; [Buttons]\r\n"
      "[Buttons] trailing words\r\n"
      ";Cancel=commented out\r\n"
      "Help\r\n"
      "=no key\r\n"
      "[Broken\r\n"
      "Cancel=Abbrechen\r\n"
      "  ; Ok=indented comment\r\n"
      "Ok=OK ; not a comment\r\n");
  EXPECT_EQ(ini.Sections(), (Strings{"Buttons"}));
  EXPECT_EQ(ini.Keys("buttons"), (Strings{"Cancel", "Ok"}));
  EXPECT_EQ(ini.Get("Buttons", "Ok"), "OK ; not a comment");
  EXPECT_EQ(ini.Get("Buttons", "Help"), std::nullopt);
  EXPECT_TRUE(ini.Keys("Broken").empty());
}

TEST(IniFileTest, FirstSectionAndFirstKeyWin) {
  const IniFile ini = IniFile::Parse(
      "[Buttons]\n"
      "Ok=first\n"
      "OK=second\n"
      "[MainForm]\n"
      "Restore=kept\n"
      "[BUTTONS]\n"
      "Ok=third\n"
      "Cancel=in the repeated section\n"
      "[buttons]\n"
      "Help=also repeated\n");
  EXPECT_EQ(ini.Get("Buttons", "ok"), "first");
  EXPECT_EQ(ini.Get("Buttons", "Cancel"), std::nullopt);
  EXPECT_EQ(ini.Get("Buttons", "Help"), std::nullopt);
  EXPECT_EQ(ini.Get("MainForm", "Restore"), "kept");
  EXPECT_EQ(ini.Sections(), (Strings{"Buttons", "MainForm"}));
  EXPECT_EQ(ini.Keys("Buttons"), (Strings{"Ok"}));
}

TEST(IniFileTest, LineEndsAndByteOrderMark) {
  const IniFile ini = IniFile::Parse("\xEF\xBB\xBF[A]\r\nOne=1\nTwo=2\rThree=3\r\n\r\nFour=4");
  EXPECT_EQ(ini.Keys("A"), (Strings{"One", "Two", "Three", "Four"}));
  EXPECT_EQ(ini.Get("A", "Two"), "2");
  EXPECT_EQ(ini.Get("A", "Four"), "4");
}

TEST(IniFileTest, ValuesAreCutAt4095Characters) {
  const std::string ascii(5000, 'x');
  std::string cyrillic;
  for (int i = 0; i < 5000; ++i) cyrillic += "\xD0\x96";  // U+0416, two bytes
  const std::string exact(IniFile::kMaxValueLength, 'y');
  const IniFile ini = IniFile::Parse("[S]\nAscii=" + ascii + "\nCyrillic=" + cyrillic +
                                     "\nQuoted=\"" + exact + "\"\nNext=after\n");
  EXPECT_EQ(ini.Get("S", "Ascii"), std::string(4095, 'x'));
  const std::string cut = ini.Get("S", "Cyrillic").value_or("");
  EXPECT_EQ(cut.size(), 2u * 4095);
  EXPECT_TRUE(IsValidUtf8(cut));
  // The quotes go before the cut, so they do not take two of the characters.
  EXPECT_EQ(ini.Get("S", "Quoted"), exact);
  EXPECT_EQ(ini.Get("S", "Next"), "after");
}

// Whatever the bytes, every key that the file lists can be read back, and no
// value is longer than the limit.
TEST(IniFileTest, ArbitraryBytesGiveAConsistentFile) {
  std::mt19937 random(20240611);
  const std::string alphabet = std::string("[]=;\"' \t\r\nAaZz\xEF\xBB\xBF\xD0\x96\x80\xFF", 22) +
                               std::string(1, '\0');
  for (int round = 0; round < 300; ++round) {
    std::string bytes(random() % 3000, '\0');
    const bool structured = round % 2 == 0;
    for (char& c : bytes) {
      c = structured ? alphabet[random() % alphabet.size()] : static_cast<char>(random() & 0xFF);
    }
    if (round % 3 == 0) bytes += "\n[" + bytes.substr(0, 8) + "]\nK=" + std::string(5000, '\xC3');
    const IniFile ini = IniFile::Parse(bytes);
    for (const std::string& section : ini.Sections()) {
      ASSERT_TRUE(ini.HasSection(section));
      for (const std::string& key : ini.Keys(section)) {
        const auto value = ini.Get(section, key);
        ASSERT_TRUE(value.has_value()) << "round " << round;
        ASSERT_EQ(Utf8PrefixBytes(*value, IniFile::kMaxValueLength), value->size());
      }
    }
  }
}

}  // namespace
}  // namespace sentrel
