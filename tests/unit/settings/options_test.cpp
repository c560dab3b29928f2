#include "settings/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "fakes/test_files.h"
#include "platform/registry.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sentrel-options-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string File() const { return (dir_ / "registry.reg").string(); }

  fs::path dir_;
};

TEST_F(OptionsTest, EmptyStoreGivesTheDefaults) {
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_DATA_HOME", "/home/op/.data", 1);
  Registry registry(File());
  ROptions options;
  options.Port = 1;
  options.Language = "Deutsch";
  LoadOptions(options, registry);
  EXPECT_EQ(options.Language, "English");
  EXPECT_EQ(options.PathToData, "/home/op/.data/Sentrel");
  EXPECT_EQ(options.PathToLog, "/home/op/.data/Sentrel");
  old ? ::setenv("XDG_DATA_HOME", saved.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(options.Port, 25);
  EXPECT_TRUE(options.AutoConnect);
  EXPECT_FALSE(options.From.empty());
  EXPECT_EQ(options.StatusBody, "OK");
  EXPECT_EQ(std::vector<int32_t>({options.LogDetail, options.LogSize, options.SendVia,
                                  options.SendEvery, options.DayOfMonth, options.DaysOfWeek}),
            std::vector<int32_t>({1, 2, 0, 0, 1, 1}));
}

ROptions Changed() {
  ROptions o;
  o.MinToTray = true;
  o.Language = "Français";
  o.PathToData = "/srv/sentrel data";
  o.MetricsListen = "[::1]:9100";
  o.NetMessageCodePage = 852;
  o.UplinkHosts = "192.168.1.1, gw.example.org";
  o.MultPlayWAV = true;
  o.PathToLog = " /var/log/sentrel ";
  o.LogDetail = 2;
  o.LogSize = -5;
  o.DeleteLog2Recycle = true;
  o.ServerName = "mail.example.org";
  o.Port = 2525;
  o.From = "monitor@example.org";
  o.AutoRun = true;
  o.DialUp = true;
  o.AutoConnect = false;
  o.Disconnect = true;
  o.Connection = "None";
  o.Login = "dial\"user\\";
  o.Password = std::string("p\0w\r\n", 5);
  o.SMTPUsername = "tim";
  o.SMTPPassword = "tanstaaftanstaaf";
  o.SMTPSecurity = 3;
  o.SMTPCAFile = "/etc/sentrel/ca.pem";
  o.StatusBody = "All\r\nfine";
  o.SendVia = 1;
  o.StatAddress = "ops@example.org";
  o.SendEvery = 1;
  o.DayOfMonth = 31;
  o.DaysOfWeek = 0x41;
  o.Times = (uint64_t{1} << 47) | 1;
  return o;
}

TEST_F(OptionsTest, SavedOptionsReadBackFieldByField) {
  const ROptions saved = Changed();
  Registry written(File());
  std::string error;
  ASSERT_TRUE(SaveOptions(saved, written, &error)) << error;

  Registry read(File());
  ASSERT_TRUE(read.Load());
  ROptions loaded;
  LoadOptions(loaded, read);
  EXPECT_EQ(loaded, saved);
}

// One string value per field, named as the field, in declaration order;
// booleans as 0/1 and the slot set as an unsigned decimal.
TEST_F(OptionsTest, StoredFormIsOneNamedStringPerField) {
  Registry registry(File());
  ASSERT_TRUE(SaveOptions(Changed(), registry));
  EXPECT_EQ(registry.ValueNames(kOptionsKey),
            (std::vector<std::string>{
                "MinToTray", "Language", "PathToData", "MultPlayWAV", "PathToLog", "LogDetail",
                "LogSize", "DeleteLog2Recycle", "ServerName", "Port", "From", "AutoRun", "DialUp",
                "AutoConnect", "Disconnect", "Connection", "Login", "Password", "SMTPUsername",
                "SMTPPassword", "SMTPSecurity", "SMTPCAFile", "StatusBody", "SendVia", "StatAddress", "SendEvery",
                "DayOfMonth", "DaysOfWeek", "Times", "StatusTargets", "MetricsListen", "NetMessageCodePage",
                "UplinkHosts"}));
  for (const auto& name : registry.ValueNames(kOptionsKey)) {
    EXPECT_EQ(registry.GetValue(kOptionsKey, name)->type, kRegString) << name;
  }
  EXPECT_EQ(registry.GetString(kOptionsKey, "MinToTray"), "1");
  EXPECT_EQ(registry.GetString(kOptionsKey, "AutoConnect"), "0");
  EXPECT_EQ(registry.GetString(kOptionsKey, "LogSize"), "-5");
  EXPECT_EQ(registry.GetString(kOptionsKey, "Times"), "140737488355329");
}

TEST_F(OptionsTest, StoredTextIsReadLenientlyAndMissingValuesKeepDefaults) {
  Registry registry(File());
  registry.SetString("software\\sentrel\\options", "port", "8080abc");
  registry.SetString(kOptionsKey, "MinToTray", "yes");
  registry.SetString(kOptionsKey, "MultPlayWAV", "2");
  registry.SetString(kOptionsKey, "LogDetail", "+2");
  registry.SetString(kOptionsKey, "DayOfMonth", "");
  registry.SetString(kOptionsKey, "Times", "18446744073709551615");
  registry.SetValue(kOptionsKey, "LogSize", kRegBinary, std::string("\7\0\0\0", 4));
  ROptions options;
  LoadOptions(options, registry);
  EXPECT_EQ(options.Port, 8080);
  EXPECT_FALSE(options.MinToTray);
  EXPECT_TRUE(options.MultPlayWAV);
  EXPECT_EQ(options.LogDetail, 2);
  EXPECT_EQ(options.DayOfMonth, 0);
  EXPECT_EQ(options.Times, (uint64_t{1} << 48) - 1);  // only the 48 slot bits
  EXPECT_EQ(options.LogSize, 2);                    // neither text nor number: default kept
  EXPECT_EQ(options.Language, "English");
  EXPECT_EQ(options.StatusBody, "OK");
  // Stored before encryption existed: the mail keeps going as it went.
  EXPECT_EQ(options.SMTPSecurity, 0);
  registry.SetString(kOptionsKey, "SMTPSecurity", "2");
  LoadOptions(options, registry);
  EXPECT_EQ(options.SMTPSecurity, 2);
  // A fresh installation asks for STARTTLS where the server offers it.
  LoadOptions(options, Registry(File() + ".none"));
  EXPECT_EQ(options.SMTPSecurity, 1);
}

// The store's legacy texts are read in one code page, chosen by all of them;
// confirming the options without a change writes back no byte of them.
TEST_F(OptionsTest, LegacyTextsShareOneCodePageAndStayUntilChanged) {
  Registry registry(File());
  registry.SetString(kOptionsKey, "StatAddress", "\xDF" "1");                          // Я1
  registry.SetString(kOptionsKey, "StatusBody", "\xC2\xF1\xB8 \xF0\xE0\xE1\xEE\xF2\xE0\xE5\xF2");  // Всё работает
  registry.SetString(kOptionsKey, "LogDetail", "+2");
  ASSERT_TRUE(registry.Save());
  ASSERT_TRUE(registry.Load());
  ROptions options;
  LoadOptions(options, registry);
  EXPECT_EQ(options.StatAddress, "Я1");
  EXPECT_EQ(options.StatusBody, "Всё работает");

  ASSERT_TRUE(SaveOptions(options, registry));
  const std::string after = testing::ReadFile(File());
  EXPECT_NE(after.find("\"StatAddress\"=hex(1):df,31,00"), std::string::npos) << after;
  EXPECT_NE(after.find("\"LogDetail\"=\"+2\""), std::string::npos) << after;
  options.StatAddress = "Я2";
  ASSERT_TRUE(SaveOptions(options, registry));
  EXPECT_EQ(registry.GetString(kOptionsKey, "StatAddress"), "Я2");
  EXPECT_EQ(registry.GetString(kOptionsKey, "StatusBody"), "\xC2\xF1\xB8 \xF0\xE0\xE1\xEE\xF2\xE0\xE5\xF2");
}

// Numbers may be stored as 32-bit numbers and paths as expandable strings,
// as deployment tools write them; saving keeps those types, and leaves an
// unchanged expandable path with its names.
TEST_F(OptionsTest, NumbersAndExpandablePathsKeepTheirStoredTypes) {
  ::setenv("SENTREL_TEST_HOME", "/home/op", 1);
  Registry registry(File());
  registry.SetValue(kOptionsKey, "Port", kRegDword, std::string("\x4b\x02\0\0", 4));  // 587
  registry.SetValue(kOptionsKey, "LogDetail", kRegDword, std::string("\xff\xff\xff\xff", 4));
  registry.SetValue(kOptionsKey, "PathToLog", kRegExpandString, "%SENTREL_TEST_HOME%/logs");
  registry.SetValue(kOptionsKey, "StatusBody", kRegExpandString, "%SENTREL_TEST_HOME%");
  ROptions options;
  LoadOptions(options, registry);
  EXPECT_EQ(options.Port, 587);
  EXPECT_EQ(options.LogDetail, -1);
  EXPECT_EQ(options.PathToLog, "/home/op/logs");
  EXPECT_EQ(options.StatusBody, "%SENTREL_TEST_HOME%") << "only paths are expanded";

  options.Port = 2525;
  ASSERT_TRUE(SaveOptions(options, registry));
  auto stored = [&](const char* name) {
    const auto value = registry.GetValue(kOptionsKey, name);
    return value ? std::to_string(value->type) + ":" + value->data : std::string("none");
  };
  EXPECT_EQ(stored("Port"), "4:" + std::string("\xdd\x09\0\0", 4));
  EXPECT_EQ(stored("PathToLog"), "2:%SENTREL_TEST_HOME%/logs");
  options.PathToLog = "/var/log/sentrel";
  ASSERT_TRUE(SaveOptions(options, registry));
  EXPECT_EQ(stored("PathToLog"), "2:/var/log/sentrel");
  ::unsetenv("SENTREL_TEST_HOME");
}

struct NormalizeCase {
  std::string typed;
  std::string server;
  std::string folder;
};

void PrintTo(const NormalizeCase& c, std::ostream* os) {
  *os << "typed_";
  for (char ch : c.typed) *os << (std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_');
}

class OptionNormalization : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(OptionNormalization, ServerLosesEveryBlankFolderOnlyOuterOnes) {
  EXPECT_EQ(NormalizeServerName(GetParam().typed), GetParam().server);
  EXPECT_EQ(NormalizeDataFolder(GetParam().typed), GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(
    Typed, OptionNormalization,
    ::testing::Values(NormalizeCase{"  mail. example .org\t", "mail.example.org",
                                    "mail. example .org"},
                      NormalizeCase{"\r\n/srv/my data/\x01", "/srv/mydata/", "/srv/my data/"},
                      NormalizeCase{"\xe9t\xe9 \xa0", "\xe9t\xe9\xa0", "\xe9t\xe9 \xa0"},
                      NormalizeCase{" \t ", "", ""}));

}  // namespace
}  // namespace sentrel
