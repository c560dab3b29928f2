#include "settings/text_model.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/md5.h"
#include "fakes/text_samples.h"
#include "platform/registry.h"
#include "settings/language_files.h"
#include "settings/options.h"
#include "settings/password.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using testing::kTextSamples;
using testing::TextSample;

class TextRoadTest : public ::testing::TestWithParam<TextSample> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sentrel-text-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    fs::remove_all(dir_);
    SetLanguageCodePage({});
  }

  fs::path dir_;
};

TEST_P(TextRoadTest, RegistryOptionsAreReadAsUtf8) {
  Registry written((dir_ / "registry.reg").string());
  written.SetString(kOptionsKey, "From", std::string(GetParam().bytes));
  ASSERT_TRUE(written.Save());
  Registry read((dir_ / "registry.reg").string());
  ASSERT_TRUE(read.Load());
  ROptions options;
  LoadOptions(options, read);
  EXPECT_EQ(options.From, GetParam().text);
}

// The Windows program digested the password's 8-bit bytes; typed here it is UTF-8.
TEST_P(TextRoadTest, PasswordSetOnWindowsOpensWithTheSameText) {
  const std::string stored = Md5Digest(GetParam().bytes);
  EXPECT_TRUE(AccessGranted(stored, true, GetParam().text));
  EXPECT_FALSE(AccessGranted(stored, true, std::string(GetParam().text) + "x"));
  EXPECT_TRUE(AccessGranted(PasswordDigest(GetParam().text), true, GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Samples, TextRoadTest, ::testing::ValuesIn(kTextSamples),
                         testing::SampleName);

// Bytes the code page leaves undefined read as Windows reads them, never as
// replacement marks, and go back to the same bytes.
TEST(OutsideTextTest, UndefinedBytesKeepTheirNumber) {
  EXPECT_EQ(DecodeOutsideText("ab\x81"), "ab\u0081");
  EXPECT_EQ(Utf8ToCodePage("ab\u0081", 1252), "ab\x81");
  EXPECT_EQ(Utf8ToCodePage("ab€", 1252), "ab\x80");
  EXPECT_EQ(Utf8ToCodePage("abЖ", 1252), std::nullopt);
}

TEST(OutsideTextTest, TerminalCharsetsNameTheirCodePages) {
  EXPECT_EQ(CodePageOfCharset("UTF-8"), kUtf8CodePage);
  EXPECT_EQ(CodePageOfCharset("ANSI_X3.4-1968"), kUtf8CodePage);
  EXPECT_EQ(CodePageOfCharset(""), kUtf8CodePage);
  EXPECT_EQ(CodePageOfCharset("CP1251"), 1251);
  EXPECT_EQ(CodePageOfCharset("windows-1252"), 1252);
  EXPECT_EQ(CodePageOfCharset("IBM866"), 866);
  EXPECT_EQ(CodePageOfCharset("ISO-8859-1"), 1252);
  EXPECT_EQ(CodePageOfCharset("KOI8-R"), kUtf8CodePage);
}

// The language's code page reads what the letters cannot tell; a code page
// that the file names reads every legacy text.
TEST_F(TextRoadTest, TheLanguageFileSuppliesTheCodePageLettersCannotTell) {
  // One 8-bit letter alone says nothing and reads as Windows-1252.
  EXPECT_EQ(DecodeOutsideText("\xE8"), "è");
  std::ofstream(dir_ / "Russian.lng") << "[MainForm]\nCaption=Монитор\n";
  ASSERT_TRUE(LoadLanguageFile(dir_ / "Russian.lng"));
  EXPECT_EQ(DecodeOutsideText("\xE8"), "и");
  EXPECT_EQ(DecodeOutsideText("Pr\xFC" "fstand"), "Prüfstand");

  std::ofstream(dir_ / "Polski.lng", std::ios::binary)
      << "[Language]\nCodePage=1250\n[MainForm]\nCaption=Pr\xF3\x9B\n";
  ASSERT_TRUE(LoadLanguageFile(dir_ / "Polski.lng"));
  EXPECT_EQ(DecodeOutsideText("\xA3\xF3" "d\x9F"), "Łódź");
}

}  // namespace
}  // namespace sentrel
