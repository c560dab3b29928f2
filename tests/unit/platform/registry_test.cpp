#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <thread>

#include "fakes/test_files.h"

namespace sentrel {
namespace {

using testing::ReadFile;
using testing::PutFile;

namespace fs = std::filesystem;

constexpr std::string_view kKey = "SOFTWARE\\Sentrel\\Options";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sentrel-registry-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ / "config" / "Sentrel" / "registry.reg";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Saves `written`, then reads the file into a fresh instance.
  std::unique_ptr<Registry> SaveAndReload(Registry& written) {
    std::string error;
    EXPECT_TRUE(written.Save(&error)) << error;
    auto read = std::make_unique<Registry>(file_);
    std::string warning;
    EXPECT_TRUE(read->Load(&warning));
    EXPECT_EQ(warning, "");
    return read;
  }

  fs::path dir_, file_;
};

struct ValueCase {
  uint32_t type;
  std::string data;
  std::string line;  // as written to the file
};

void PrintTo(const ValueCase& c, std::ostream* os) {
  for (char ch : c.line.substr(4)) *os << (std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_');
}

class RegistryValues : public RegistryTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(RegistryValues, WrittenInExportFormatAndReadBack) {
  Registry registry(file_);
  ASSERT_TRUE(registry.SetValue(kKey, "V", GetParam().type, GetParam().data));
  const auto read = SaveAndReload(registry);
  EXPECT_NE(ReadFile(file_).find("\r\n" + GetParam().line + "\r\n"), std::string::npos)
      << ReadFile(file_);
  const auto value = read->GetValue(kKey, "V");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, GetParam().type);
  EXPECT_EQ(value->data, GetParam().data);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RegistryValues,
    ::testing::Values(
        ValueCase{kRegString, "English", R"("V"="English")"},
        ValueCase{kRegString, "", R"("V"="")"},
        ValueCase{kRegString, R"(C:\dir "x"\)", R"("V"="C:\\dir \"x\"\\")"},
        // Strings holding other bytes: the password digest may hold zeros.
        ValueCase{kRegString, std::string("a\0b", 3), R"("V"=hex(1):61,00,62,00)"},
        ValueCase{kRegString, std::string("\0", 1), R"("V"=hex(1):00,00)"},
        ValueCase{kRegString, "line\r\n", R"("V"=hex(1):6c,69,6e,65,0d,0a,00)"},
        ValueCase{kRegString, "\xe9t\xe9", R"("V"=hex(1):e9,74,e9,00)"},
        ValueCase{kRegExpandString, "%HOME%", R"("V"=hex(2):25,48,4f,4d,45,25,00)"},
        ValueCase{kRegBinary, std::string("\0\xff", 2), R"("V"=hex:00,ff)"},
        ValueCase{kRegBinary, "", R"("V"=hex:)"},
        ValueCase{kRegDword, std::string("\x2a\0\0\x80", 4), R"("V"=dword:8000002a)"},
        ValueCase{kRegDword, "ab", R"("V"=hex(4):61,62)"},
        ValueCase{11, "x", R"("V"=hex(b):78)"}));

TEST_F(RegistryTest, KeysAndNamesMatchWithoutCaseAndKeepFirstSpelling) {
  Registry registry(file_);
  ASSERT_TRUE(registry.SetString("SOFTWARE\\Sentrel\\Options", "Language", "English"));
  ASSERT_TRUE(registry.SetString("software\\sentrel\\OPTIONS", "LANGUAGE", "Deutsch"));
  ASSERT_TRUE(registry.SetString("\\Software\\Sentrel\\", "Password", "x"));
  EXPECT_EQ(registry.GetString("Software\\SENTREL\\options", "language"), "Deutsch");
  EXPECT_EQ(registry.ValueNames("SOFTWARE\\SENTREL\\OPTIONS"),
            std::vector<std::string>{"Language"});
  EXPECT_FALSE(registry.GetString("SOFTWARE\\Sentrel", "Language").has_value());

  const auto read = SaveAndReload(registry);
  EXPECT_EQ(ReadFile(file_),
            "REGEDIT4\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Sentrel]\r\n\"Password\"=\"x\"\r\n"
            "\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Options]\r\n\"Language\"=\"Deutsch\"\r\n");
  EXPECT_EQ(read->GetString("SOFTWARE\\Sentrel\\Options", "Language"), "Deutsch");
}

TEST_F(RegistryTest, TypedAccessDeletionAndUnwritableNames) {
  Registry registry(file_);
  ASSERT_TRUE(registry.SetValue(kKey, "Count", kRegDword, std::string("\1\0\0\0", 4)));
  EXPECT_FALSE(registry.GetString(kKey, "Count").has_value());  // not a string
  EXPECT_TRUE(registry.DeleteValue(kKey, "COUNT"));
  EXPECT_FALSE(registry.DeleteValue(kKey, "Count"));
  // A line break in a key or name would break the file apart.
  EXPECT_FALSE(registry.SetString("", "Name", "x"));
  EXPECT_FALSE(registry.SetString("SOFTWARE\nX", "Name", "x"));
  EXPECT_FALSE(registry.SetString(kKey, "Na\r\nme", "x"));
  EXPECT_TRUE(registry.SetString(kKey, "", "default value"));
  const auto read = SaveAndReload(registry);
  EXPECT_NE(ReadFile(file_).find("\r\n@=\"default value\"\r\n"), std::string::npos);
  EXPECT_EQ(read->ValueNames(kKey), std::vector<std::string>{""});
}

// Files written by hand or exported elsewhere: LF line ends, comments,
// wrapped hex data, deletions, other hives, a byte-order mark.
TEST_F(RegistryTest, ReadsHandWrittenAndExportedFiles) {
  PutFile(file_,
          "\xef\xbb\xbfREGEDIT4\n"
          "; comment\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Sentrel\\Options]\n"
          "\"Port\"=\"99\"\n"
          "[hkey_current_user\\SOFTWARE\\Sentrel\\Options]\n"
          "  \"Port\" = \"25\"  \n"
          "\"Gone\"=\"x\"\n"
          "\"Gone\"=-\n"
          "\"Digest\"=hex(1):41,00,\\\n"
          "  42,00\n"
          "\"Bin\"=HEX:0A, 0b\r\n"
          "[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Old]\n"
          "\"x\"=\"y\"\n"
          "[-HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Old]\n");
  Registry registry(file_);
  std::string warning;
  ASSERT_TRUE(registry.Load(&warning));
  EXPECT_EQ(warning, "");
  EXPECT_EQ(registry.GetString(kKey, "Port"), "25");
  EXPECT_FALSE(registry.GetValue(kKey, "Gone").has_value());
  EXPECT_EQ(registry.GetString(kKey, "Digest"), std::string("A\0B", 3));
  EXPECT_FALSE(registry.GetValue("SOFTWARE\\Sentrel\\Old", "x").has_value());
}

TEST_F(RegistryTest, DamagedLinesAreSkippedAndTheFileIsKeptAside) {
  const std::string damaged =
      "REGEDIT4\r\n"
      "\"Orphan\"=\"no key yet\"\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Options]\r\n"
      "\"Language\"=\"English\"\r\n"
      "\"Port\"=\"25\r\n"
      "\"Times\"=hex(1):4,00\r\n"
      "garbage\r\n"
      "\"Login\"=\"admin\"\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\MainForm\r\n"
      "\"Top\"=\"1\"\r\n";
  PutFile(file_, damaged);
  Registry registry(file_);
  std::string warning;
  ASSERT_TRUE(registry.Load(&warning));
  EXPECT_NE(warning.find("line 2"), std::string::npos) << warning;
  EXPECT_EQ(registry.ValueNames(kKey), (std::vector<std::string>{"Language", "Login"}));
  EXPECT_TRUE(registry.ValueNames("SOFTWARE\\Sentrel\\MainForm").empty());

  ASSERT_TRUE(registry.Save());
  EXPECT_EQ(ReadFile(file_.string() + ".damaged"), damaged);
  Registry clean(file_);
  ASSERT_TRUE(clean.Load(&warning));
  ASSERT_TRUE(clean.Save());
  EXPECT_EQ(ReadFile(file_.string() + ".damaged"), damaged);
}

TEST_F(RegistryTest, FileIsPrivateMissingFileIsEmptyUnreadableFileFails) {
  Registry registry(file_);
  ASSERT_TRUE(registry.SetString(kKey, "SMTPPassword", "secret"));
  ASSERT_TRUE(registry.Save());
  struct stat st {};
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(file_.parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  fs::remove(file_);
  EXPECT_TRUE(registry.Load());
  EXPECT_TRUE(registry.ValueNames(kKey).empty());
  fs::create_directories(file_);  // a folder where the file should be
  std::string warning;
  EXPECT_FALSE(registry.Load(&warning));
  EXPECT_FALSE(warning.empty());
}

// Only what this instance changed is written: a value another program
// changed meanwhile keeps its change, and the file ends 0600 even when it
// was readable by others before.
TEST_F(RegistryTest, SaveWritesOnlyChangedValuesIntoTheFileAsItIsNow) {
  Registry seed(file_);
  seed.SetString(kKey, "Port", "25");
  seed.SetString(kKey, "ServerName", "old.example");
  seed.SetString(kKey, "Login", "gone");
  ASSERT_TRUE(seed.Save());
  ::chmod(file_.c_str(), 0644);

  Registry running(file_);
  ASSERT_TRUE(running.Load());
  Registry editor(file_);
  ASSERT_TRUE(editor.Load());
  editor.SetString(kKey, "ServerName", "new.example");
  editor.SetString(kKey, "StatusBody", "added");
  ASSERT_TRUE(editor.Save());

  running.SetString(kKey, "ServerName", "old.example");  // as read: no change
  running.SetString(kKey, "Port", "2525");
  running.DeleteValue(kKey, "Login");
  ASSERT_TRUE(running.Save());
  EXPECT_EQ(running.GetString(kKey, "ServerName"), "new.example");
  const auto read = SaveAndReload(running);
  EXPECT_EQ(read->GetString(kKey, "ServerName"), "new.example");
  EXPECT_EQ(read->GetString(kKey, "StatusBody"), "added");
  EXPECT_EQ(read->GetString(kKey, "Port"), "2525");
  EXPECT_FALSE(read->GetString(kKey, "Login"));
  struct stat st {};
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Random and mutated files must load without failing, and whatever loaded
// must survive a save and a reload unchanged.
TEST_F(RegistryTest, RandomAndMutatedFilesLoadAndRoundTrip) {
  Registry seed(file_);
  seed.SetString(kKey, "Language", "Eng\"lish\\");
  seed.SetString(kKey, "Password", std::string("\0\x01\xff", 3));
  seed.SetValue("SOFTWARE\\Sentrel\\MainForm", "Top", kRegDword, std::string("\1\2\3\4", 4));
  seed.SetValue("SOFTWARE\\Sentrel\\MainForm", "Blob", 7, "ab\0c");
  ASSERT_TRUE(seed.Save());
  const std::string valid = ReadFile(file_);
  const std::string alphabet = "[]\"\\=,:-@;()hexdword0123456789abcdefABCDEF \r\n\t\x00\xff";

  std::mt19937 random(20261207);
  for (int round = 0; round < 400; ++round) {
    std::string bytes = valid;
    if (round % 4 == 0) {
      bytes.resize(random() % 300);
      for (char& c : bytes) c = static_cast<char>(random());
    } else {
      const int edits = 1 + static_cast<int>(random() % 8);
      for (int e = 0; e < edits && !bytes.empty(); ++e) {
        const std::size_t at = random() % bytes.size();
        switch (random() % 4) {
          case 0: bytes[at] = alphabet[random() % alphabet.size()]; break;
          case 1: bytes.erase(at, 1 + random() % 5); break;
          case 2: bytes.insert(at, 1, alphabet[random() % alphabet.size()]); break;
          default: bytes.resize(at); break;
        }
      }
    }
    PutFile(file_, bytes);
    Registry loaded(file_);
    ASSERT_TRUE(loaded.Load()) << "round " << round;
    ASSERT_TRUE(loaded.Save()) << "round " << round;
    const std::string first = ReadFile(file_);
    Registry again(file_);
    std::string warning;
    ASSERT_TRUE(again.Load(&warning));
    EXPECT_EQ(warning, "") << "round " << round;
    ASSERT_TRUE(again.Save());
    EXPECT_EQ(ReadFile(file_), first) << "round " << round;
  }
}

// The window thread and the headless runner share one instance.
TEST_F(RegistryTest, SharedInstanceStaysConsistentAcrossThreads) {
  Registry registry(file_);
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) registry.SetString(kKey, "Counter", std::to_string(i));
  });
  std::thread saver([&] {
    for (int i = 0; i < 20; ++i) registry.Save();
  });
  int unreadable = 0;
  for (int i = 0; i < 2000; ++i) {
    const auto value = registry.GetString(kKey, "Counter");
    if (value && value->empty()) ++unreadable;
  }
  writer.join();
  saver.join();
  EXPECT_EQ(unreadable, 0);
  EXPECT_EQ(SaveAndReload(registry)->GetString(kKey, "Counter"), "1999");
}

}  // namespace
}  // namespace sentrel
