#include "settings/language_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "fakes/test_files.h"
#include "settings/code_page.h"
#include "common/text.h"
#include "settings/utf8_text.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;

const fs::path kData = fs::path(SENTREL_SOURCE_DIR) / "tests/unit/settings/data";
const fs::path kShipped = fs::path(SENTREL_SOURCE_DIR) / "resources/lang";

// The 8-bit samples were written with iconv from the UTF-8 ones, so they
// also check the code page tables against an independent converter.
struct Sample {
  const char* file;
  const char* utf8_file;
  int code_page;
};

class LanguageTextSampleTest : public ::testing::TestWithParam<Sample> {};

TEST_P(LanguageTextSampleTest, ReadsTheTextInItsEncoding) {
  const Sample& sample = GetParam();
  const std::string bytes = ReadFile(kData / sample.file);
  ASSERT_FALSE(bytes.empty()) << sample.file;
  const LanguageText text = DecodeLanguageText(bytes);
  EXPECT_EQ(text.code_page, sample.code_page);
  EXPECT_EQ(text.utf8, ReadFile(kData / sample.utf8_file));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, LanguageTextSampleTest,
    ::testing::Values(Sample{"german.utf8.txt", "german.utf8.txt", kUtf8CodePage},
                      Sample{"german.cp1252.txt", "german.utf8.txt", 1252},
                      Sample{"russian.utf8.txt", "russian.utf8.txt", kUtf8CodePage},
                      Sample{"russian.cp1251.txt", "russian.utf8.txt", 1251},
                      // Named by its "CodePage" key; the letters alone would not tell.
                      Sample{"czech.cp1250.lng", "czech.utf8.lng", 1250}));

// The shipped translations written in each 8-bit code page by the inverse of
// the table: whole language files, detected and read back unchanged.
TEST(LanguageTextTest, ShippedTranslationsSurviveTheirCodePage) {
  for (const auto& [name, code_page] : std::map<std::string, int>{{"German.lng", 1252},
                                                                   {"Russian.lng", 1251}}) {
    const std::string utf8 = ReadFile(kShipped / name);
    std::map<std::string, char> encoder;
    for (int byte = 0; byte < 256; ++byte) {
      std::string character;
      AppendUtf8(character, CodePageCharacter(code_page, static_cast<unsigned char>(byte)));
      encoder.emplace(character, static_cast<char>(byte));
    }
    std::string eight_bit;
    for (std::size_t at = 0; at < utf8.size();) {
      const std::size_t length = Utf8PrefixBytes(utf8.substr(at), 1);
      const auto it = encoder.find(utf8.substr(at, length));
      ASSERT_NE(it, encoder.end()) << name << " at byte " << at;
      eight_bit += it->second;
      at += length;
    }
    EXPECT_EQ(DetectCodePage(eight_bit), code_page) << name;
    const LanguageText text = DecodeLanguageText(eight_bit);
    EXPECT_EQ(text.code_page, code_page) << name;
    EXPECT_EQ(text.utf8, utf8) << name;
  }
}

TEST(LanguageTextTest, DetectionOnShortTexts) {
  const std::map<std::string, int> cases = {
      {"", 1252},
      {"Ok=OK", 1252},
      {"PBS=Puffergr\xF6\xDF" "e:", 1252},                           // Puffergröße
      {"LogSize1=\xE0 la minute, d\xE9j\xE0 vu", 1252},               // à la minute, déjà vu
      {"FileItem=&\xD4\xE0\xE9\xEB", 1251},                           // Файл
      {"Ok=\xCE\xCA", 1251},                                          // ОК
      {"Mixed=DNS \xE8 SMTP-\xF1\xE5\xF0\xE2\xE5\xF0 na\xEFve", 1251},  // и, сервер
  };
  for (const auto& [text, code_page] : cases) {
    EXPECT_EQ(DetectCodePage(text), code_page) << text;
  }
}

TEST(LanguageTextTest, TheCodePageKeyDecidesForEightBitText) {
  const std::string russian = ReadFile(kData / "russian.cp1251.txt");
  // A named code page wins over what the letters suggest ...
  EXPECT_EQ(DecodeLanguageText("[language]\ncodepage=1252\n" + russian).code_page, 1252);
  EXPECT_EQ(DecodeLanguageText("[Language]\nCodePage=\" 1257 \"\n" + russian).code_page, 1257);
  // ... an unknown one leaves the choice to the letters ...
  EXPECT_EQ(DecodeLanguageText("[Language]\nCodePage=866\n" + russian).code_page, 1251);
  EXPECT_EQ(DecodeLanguageText("[Language]\nCodePage=\n" + russian).code_page, 1251);
  EXPECT_EQ(DecodeLanguageText("[Other]\nCodePage=1252\n" + russian).code_page, 1251);
  // ... and it does not turn valid UTF-8 into 8-bit text.
  const LanguageText utf8 = DecodeLanguageText("[Language]\nCodePage=1251\nA=\xC3\xA4\n");
  EXPECT_EQ(utf8.code_page, kUtf8CodePage);
  EXPECT_EQ(utf8.utf8, "[Language]\nCodePage=1251\nA=\xC3\xA4\n");
}

TEST(LanguageTextTest, DamagedUtf8StaysUtf8) {
  // The byte order mark says UTF-8 whatever follows.
  EXPECT_EQ(DecodeLanguageText("\xEF\xBB\xBF" "A=\xC3\xA4").utf8, "A=\xC3\xA4");
  const LanguageText marked = DecodeLanguageText("\xEF\xBB\xBF" "A=\xE4rger");
  EXPECT_EQ(marked.code_page, kUtf8CodePage);
  EXPECT_EQ(marked.utf8, "A=\xEF\xBF\xBDrger");
  // One 8-bit letter pasted into a UTF-8 file spoils only itself.
  const LanguageText pasted =
      DecodeLanguageText("A=\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB\nB=Gr\xF6\xDF" "e\nC=\xD0\x9E\xD0\x9A");
  EXPECT_EQ(pasted.code_page, kUtf8CodePage);
  EXPECT_EQ(pasted.utf8, "A=\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB\nB=Gr\xEF\xBF\xBD\xEF\xBF\xBD" "e\nC="
                         "\xD0\x9E\xD0\x9A");
}

TEST(LanguageTextTest, Utf8ValidationIsStrict) {
  for (const char* invalid : {"\x80", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80",
                              "\xF4\x90\x80\x80", "\xE2\x82", "\xC3\xA4\xFF"}) {
    EXPECT_FALSE(IsValidUtf8(invalid)) << ToHex(invalid);
  }
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF\xED\x9F\xBF\xE2\x82\xAC"));
  // Whatever a file holds, the windows get valid UTF-8.
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 200, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    ASSERT_TRUE(IsValidUtf8(DecodeLanguageText(bytes).utf8)) << round;
  }
}

}  // namespace
}  // namespace sentrel
