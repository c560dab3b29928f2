#include "app/host_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fakes/fake_desktop.h"
#include "fakes/test_files.h"
#include "fakes/text_samples.h"
#include "platform/instance_lock.h"
#include "settings/code_page.h"
#include "settings/utf8_text.h"

namespace fs = std::filesystem;

namespace sentrel {
namespace {

using testing::Drain;
using testing::ReadFile;

class HostCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("sentrel-cli-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    out_ = std::tmpfile();
    err_ = std::tmpfile();
  }
  void TearDown() override {
    std::fclose(out_);
    std::fclose(err_);
    fs::remove_all(root_);
  }
  HostCommandContext Context() {
    return {(root_ / "data").string(), (root_ / "lock").string(), desktop_, out_, err_};
  }
  int Run(const std::vector<std::string>& args) {
    const CliCommand c = ParseCliCommand(args);
    EXPECT_EQ(c.error, "");
    return ChangeHosts(c, Context());
  }
  std::string List() {
    EXPECT_EQ(ListHosts(Context()), 0);
    return Drain(out_);
  }
  fs::path DataFile() const { return root_ / "data" / "sentrel.xml"; }

  fs::path root_;
  testing::FakeDesktop desktop_;
  std::FILE* out_ = nullptr;
  std::FILE* err_ = nullptr;
};

class HostCommandsText : public HostCommands,
                         public ::testing::WithParamInterface<testing::TextSample> {};

// Texts typed in the terminal are stored as UTF-8 and listed in columns of
// characters, not bytes.
TEST_P(HostCommandsText, NameAndDescriptionGoInAndOutAsText) {
  const std::string text(GetParam().text);
  ASSERT_EQ(Run({"--add", "10.0.0.5", "--name", std::string(GetParam().bytes), "--desc",
                 std::string(GetParam().bytes)}),
            0);
  EXPECT_NE(ReadFile(DataFile()).find("<HN>" + text + "</HN>\r\n<HDS>" + text + "</HDS>"),
            std::string::npos);
  const std::string padding(24 - Utf8CodePoints(text).size(), ' ');
  const std::string listed = List();
  EXPECT_NE(listed.find("   1 [x] 10.0.0.5         " + text + padding + "  " + text + padding),
            std::string::npos)
      << listed;

  // A terminal in an 8-bit code page gets the list in it.
  HostCommandContext oem = Context();
  oem.terminalCodePage = GetParam().oemCodePage;
  ASSERT_EQ(ListHosts(oem), 0);
  EXPECT_NE(CodePageToUtf8(Drain(out_), oem.terminalCodePage).find(GetParam().oemText),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Samples, HostCommandsText, ::testing::ValuesIn(testing::kTextSamples),
                         testing::SampleName);

TEST_F(HostCommands, AddListEnableDisableRemoveRoundTrip) {
  ASSERT_EQ(Run({"--add", "10.0.0.5", "--name", "mail", "--desc", "relay", "--interval", "30"}), 0);
  // The new host is ticked and, apart from its texts and interval, all defaults:
  // exactly the block the data file gives for it.
  EXPECT_EQ(ReadFile(DataFile()),
            "<H>\r\n<CHK>T</CHK>\r\n<HIP>10.0.0.5</HIP>\r\n<HN>mail</HN>\r\n<HDS>relay</HDS>\r\n"
            "<PI>30</PI>\r\n<GTIM>1250</GTIM>\r\n<LTIM>1666</LTIM>\r\n<YTIM>2500</YTIM>\r\n"
            "<OTIM>5000</OTIM>\r\n</H>\r\n");
  ASSERT_EQ(Run({"--add", "db.example.test"}), 0);
  EXPECT_NE(Drain(err_).find("warning: db.example.test does not resolve now"), std::string::npos)
      << "added all the same, with a word";
  ASSERT_EQ(Run({"--add", "::ffff:10.0.0.7"}), 0);
  EXPECT_NE(ReadFile(DataFile()).find("<HIP>10.0.0.7</HIP>"), std::string::npos) << "stored as IPv4";
  ASSERT_EQ(Run({"--remove", "3"}), 0);
  const std::string listed = List();
  EXPECT_NE(listed.find("   1 [x] 10.0.0.5"), std::string::npos) << listed;
  EXPECT_NE(listed.find("always, every 30 s"), std::string::npos);
  EXPECT_NE(listed.find("   2 [x] 127.0.0.1        db.example.test"), std::string::npos) << listed;

  ASSERT_EQ(Run({"--disable", "1"}), 0);
  EXPECT_NE(List().find("   1 [ ] 10.0.0.5"), std::string::npos);
  ASSERT_EQ(Run({"--remove", "1"}), 0);
  const std::string after = List();
  EXPECT_EQ(after.find("10.0.0.5"), std::string::npos);
  EXPECT_NE(after.find("   1 [x] 127.0.0.1"), std::string::npos);
  // The name host is pinged by name: PBIP written as F.
  EXPECT_NE(ReadFile(DataFile()).find("<PBIP>F</PBIP>"), std::string::npos);
}

TEST_F(HostCommands, DegradationIsSetOnAddAndChangedByRow) {
  ASSERT_EQ(Run({"--add", "10.0.0.5", "--degraded-latency", "300", "--degraded-notify", "ops"}), 0);
  std::string file = ReadFile(DataFile());
  EXPECT_NE(file.find("<DGL>300</DGL>\r\n<DGHK>ops</DGHK>\r\n</H>"), std::string::npos) << file;
  ASSERT_EQ(Run({"--set-degradation", "1", "--degraded-loss", "5", "--degraded-checks", "20",
                 "--degraded-notify", ""}),
            0);
  file = ReadFile(DataFile());
  EXPECT_NE(file.find("<DGL>300</DGL>\r\n<DGP>5</DGP>\r\n<DGN>20</DGN>\r\n</H>"),
            std::string::npos)
      << file;
  EXPECT_EQ(Run({"--set-degradation", "2", "--degraded-loss", "5"}), 2);
  EXPECT_EQ(Run({"--set-degradation", "1", "--degraded-notify", "a<b"}), 2);
  EXPECT_EQ(ReadFile(DataFile()), file);
}

TEST_F(HostCommands, NewHostIsSeededFromTheDefaultHost) {
  fs::create_directories(root_ / "data");
  std::ofstream(DataFile(), std::ios::binary)
      << "<H>\r\n<HIP>10.1.1.1</HIP>\r\n<NOR>3</NOR>\r\n<DFLT>T</DFLT>\r\n<DIA>T</DIA>\r\n</H>\r\n";
  ASSERT_EQ(Run({"--add", "10.2.2.2"}), 0);
  const std::string file = ReadFile(DataFile());
  const std::string second = file.substr(file.find("10.2.2.2"));
  EXPECT_NE(second.find("<NOR>3</NOR>"), std::string::npos);
  EXPECT_NE(second.find("<DIA>T</DIA>"), std::string::npos);
  EXPECT_EQ(second.find("<DFLT>"), std::string::npos);  // the mark is not copied
}

TEST_F(HostCommands, RefusalsLeaveTheFileUntouched) {
  ASSERT_EQ(Run({"--add", "10.0.0.5"}), 0);
  const std::string before = ReadFile(DataFile());

  EXPECT_EQ(Run({"--remove", "2"}), 2);  // no such row
  EXPECT_NE(Drain(err_).find("no row 2"), std::string::npos);
  EXPECT_EQ(Run({"--add", "10.0.0.6", "--desc", "a</HDS></H><H>b"}), 2);
  EXPECT_EQ(Run({"--add", "bad\nname"}), 2);
  // Nothing that could never be checked: each refused with its reason.
  for (const char* never : {"1.2.3.4.5", "256.1.1.1", " 10.0.0.1", "a b", "-5", "fe80::1%nosuchif"}) {
    EXPECT_EQ(Run({"--add", never}), 2) << never;
    EXPECT_NE(Drain(err_).find("not a host address or name"), std::string::npos) << never;
  }

  InstanceLock running((root_ / "lock").string());
  ASSERT_TRUE(running.TryAcquire());
  EXPECT_EQ(Run({"--enable", "1"}), 1);
  EXPECT_NE(Drain(err_).find("another Sentrel"), std::string::npos);
  EXPECT_EQ(ListHosts(Context()), 0);  // reading is fine while another runs
  EXPECT_EQ(ReadFile(DataFile()), before);
}

// Parents are named by row, address or name and stored as the parent's
// address; a loop or an unknown host is refused and nothing saved. While
// another Sentrel runs, --list shows the states it publishes.
TEST_F(HostCommands, ParentsBySetParentAndAddWithStatesWhileRunning) {
  ASSERT_EQ(Run({"--add", "198.18.1.1", "--name", "Router"}), 0);
  ASSERT_EQ(Run({"--add", "198.18.2.2", "--parent", "router"}), 0);
  ASSERT_EQ(Run({"--add", "198.18.2.3"}), 0);
  ASSERT_EQ(Run({"--set-parent", "3", "2"}), 0);
  EXPECT_NE(ReadFile(DataFile()).find("<HIP>198.18.2.3</HIP>\r\n<GTIM>1250</GTIM>\r\n"
                                      "<LTIM>1666</LTIM>\r\n<YTIM>2500</YTIM>\r\n"
                                      "<OTIM>5000</OTIM>\r\n<PAR>198.18.2.2</PAR>\r\n</H>"),
            std::string::npos);
  const std::string before = ReadFile(DataFile());
  EXPECT_EQ(Run({"--set-parent", "1", "198.18.2.3"}), 2);
  EXPECT_NE(Drain(err_).find("refused: Router cannot be reached through 198.18.2.3: 198.18.2.3 is "
                             "reached through Router already, which would make a loop"),
            std::string::npos);
  EXPECT_EQ(Run({"--set-parent", "2", "10.9.9.9"}), 2);
  EXPECT_EQ(Run({"--add", "198.18.2.4", "--parent", "9"}), 2);
  EXPECT_EQ(ReadFile(DataFile()), before);
  ASSERT_EQ(Run({"--set-parent", "3", "-"}), 0);
  EXPECT_EQ(ReadFile(DataFile()).find("<PAR>198.18.2.2"), std::string::npos);

  std::ofstream(root_ / "data" / "sentrel.state", std::ios::binary)
      << "198.18.1.1\tRouter\tLost\r\n198.18.2.2\t\tUnreachable\r\n";
  EXPECT_EQ(List().find("Unreachable"), std::string::npos) << "nobody runs: the file says nothing";
  InstanceLock running((root_ / "lock").string());
  ASSERT_TRUE(running.TryAcquire());
  const std::string listed = List();
  EXPECT_NE(listed.find("through 198.18.1.1  Unreachable\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("every 60 s  Lost\n"), std::string::npos) << listed;
}

// Full-length IPv6 addresses widen the address column for every row; a data
// file that cannot be read is an error, and no command writes over it.
TEST_F(HostCommands, ListKeepsItsColumnsAndRefusesAnUnreadableFile) {
  ASSERT_EQ(Run({"--add", "2001:db8:1234:5678:9abc:def0:1234:5678", "--name", "six"}), 0);
  ASSERT_EQ(Run({"--add", "10.0.0.5", "--name", "four"}), 0);
  const std::string listed = List();
  const auto six = listed.find("six"), four = listed.find("four");
  ASSERT_NE(four, std::string::npos);
  EXPECT_EQ(six - listed.rfind('\n', six), four - listed.rfind('\n', four)) << listed;

  fs::remove(DataFile());
  bool loop = true;
  try {
    fs::create_symlink("sentrel.xml", DataFile());
  } catch (const fs::filesystem_error&) {
    loop = false;  // no links here: a folder in its place
    fs::create_directory(DataFile());
  }
  EXPECT_EQ(ListHosts(Context()), 1);
  EXPECT_NE(Drain(err_).find("sentrel.xml"), std::string::npos);
  EXPECT_EQ(Run({"--add", "10.0.0.6"}), 1);
  EXPECT_EQ(loop ? fs::is_symlink(DataFile()) : fs::is_directory(DataFile()), true);
}

TEST(ScheduleText, NamesEveryKind) {
  HostEntry host;
  EXPECT_EQ(ScheduleText(host), "always, every 60 s");
  host.CheckEvery = kCheckEveryWeek;
  host.DaysOfWeek = 0b0100010;
  host.Times = (1ull << 16) | (1ull << 35);
  EXPECT_EQ(ScheduleText(host), "weekly on Mon,Fri at 08:00,17:30");
  host.CheckEvery = kCheckEveryMonth;
  host.DayOfMonth = 31;
  host.Times = 0;
  EXPECT_EQ(ScheduleText(host), "monthly on day 31");
  host.CheckEvery = kCheckEveryDay;
  EXPECT_EQ(ScheduleText(host), "daily");
}

}  // namespace
}  // namespace sentrel
