#include "core/data_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "core_test_util.h"
#include "fakes/fake_clock.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using testing::BoxRecorder;
using testing::SetEveryField;
using testing::StoredFields;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// ---- Format and parse ----

TEST(HostBlockTest, DefaultHostIsWrittenAsItsMinimalBlock) {
  HostEntry host;
  EXPECT_EQ(FormatHostBlock(host),
            "<H>\r\n<HIP>127.0.0.1</HIP>\r\n<GTIM>1250</GTIM>\r\n<LTIM>1666</LTIM>\r\n"
            "<YTIM>2500</YTIM>\r\n<OTIM>5000</OTIM>\r\n</H>\r\n");
}

TEST(HostBlockTest, EnabledHostEveryThirtySecondsIsNineLines) {
  HostEntry host;
  host.Enabled = true;
  host.HostIP.Set("10.0.0.5");
  host.PingInterval = 30;
  EXPECT_EQ(FormatHostBlock(host),
            "<H>\r\n<CHK>T</CHK>\r\n<HIP>10.0.0.5</HIP>\r\n<PI>30</PI>\r\n<GTIM>1250</GTIM>\r\n"
            "<LTIM>1666</LTIM>\r\n<YTIM>2500</YTIM>\r\n<OTIM>5000</OTIM>\r\n</H>\r\n");
}

TEST(HostBlockTest, DefaultBlockReadsBackAsDefaults) {
  HostEntry written, read;
  SetEveryField(read);
  const std::string block = FormatHostBlock(written);
  ParseHostBlock(block.substr(5, block.size() - 11), read);
  read.OnRenewal.RunTraceRoute = false;  // never stored, so never read
  EXPECT_EQ(StoredFields(read), StoredFields(written));
}

TEST(HostBlockTest, EveryTagIsWrittenInFileOrder) {
  HostEntry host;
  SetEveryField(host);
  const std::string block = FormatHostBlock(host);
  std::vector<std::string> tags;
  for (std::size_t pos = 0; (pos = block.find("\r\n<", pos)) != std::string::npos; ++pos) {
    const std::size_t end = block.find('>', pos);
    tags.push_back(block.substr(pos + 3, end - pos - 3));
  }
  const std::vector<std::string> expected = {
      "CHK",  "HIP",  "HN",   "HDS",  "CHS", "DOM",  "DOW",  "TOD",  "PI",   "NOR",
      "TO",   "PTTL", "PTOS", "PBS",  "TOTR", "BSTR", "TTLTR", "MNOH", "GTIM", "LTIM",
      "YTIM", "OTIM", "PBIP", "DFLT", "WIA",  "WRC", "WISB", "WIPW", "WWN",  "WISL", "WLN",
      "WISE", "WEA",  "WIR",  "WPN",  "WCL", "WSBJ", "WMB",  "DIA",  "DRC",  "DISB",
      "DIPW", "DWN",  "DISL", "DLN",  "DISE", "DEA", "DIR",  "DPN",  "DCL",  "DRTR",
      "DSBJ", "DMB",  "/H"};
  EXPECT_EQ(tags, expected);
  EXPECT_NE(block.find("<TOD>" + std::to_string(static_cast<int64_t>(host.Times.load())) +
                       "</TOD>"),
            std::string::npos);
  EXPECT_NE(block.find("<PBIP>F</PBIP>"), std::string::npos);
}

TEST(HostBlockTest, EveryFieldSurvivesARoundTrip) {
  HostEntry written, read;
  SetEveryField(written);
  ParseHostBlock(FormatHostBlock(written), read);
  auto expected = StoredFields(written);
  expected["OnRenewal.RunTraceRoute"] = "0";  // lives in memory only
  EXPECT_EQ(StoredFields(read), expected);
}

struct ReadTagCase {
  const char* name;
  std::string text;
  const char* tag;
  const char* expected;
};

class ReadTagTest : public ::testing::TestWithParam<ReadTagCase> {};

TEST_P(ReadTagTest, ReadsAsTheFormatSays) {
  const ReadTagCase& c = GetParam();
  EXPECT_EQ(ReadTag(c.text, c.tag, "dflt"), c.expected);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadTagTest,
    ::testing::Values(
        ReadTagCase{"Plain", "<HN>mail</HN>", "HN", "mail"},
        ReadTagCase{"Empty", "<HN></HN>", "HN", ""},
        ReadTagCase{"NoOpening", "mail</HN>", "HN", "dflt"},
        ReadTagCase{"NoClosing", "<HN>mail", "HN", "dflt"},
        ReadTagCase{"ClosingFirstGivesEmpty", "</HN>x<HN>mail", "HN", ""},
        ReadTagCase{"LetterCaseCounts", "<hn>mail</hn>", "HN", "dflt"},
        ReadTagCase{"PrefixOfLongerTag", "<DISB>T</DISB>", "DIS", "dflt"},
        ReadTagCase{"FirstOfEach", "<HN>a<HN>b</HN>c</HN>", "HN", "a<HN>b"},
        ReadTagCase{"CutAtFirstClosing", "<HN>a</HN>b</HN>", "HN", "a"},
        ReadTagCase{"NothingTrimmed", "<PI> 30 </PI>", "PI", " 30 "},
        ReadTagCase{"LineBreakKept", "<HDS>a\r\nb</HDS>", "HDS", "a\r\nb"},
        ReadTagCase{"EightBitKept", "<HN>\xE4\xFF</HN>", "HN", "\xE4\xFF"},
        ReadTagCase{"ZeroByteEndsTheText", "<HN>a\0</HN>"s, "HN", "dflt"},
        ReadTagCase{"TagAfterZeroByteIgnored", "<A>1</A>\0<HN>b</HN>"s, "HN", "dflt"},
        ReadTagCase{"OtherElementsBetween", "<HN><X>1</X></HN>", "HN", "<X>1</X>"}),
    [](const ::testing::TestParamInfo<ReadTagCase>& p) { return p.param.name; });

TEST(HostBlockTest, DamagedValuesReadAsDocumented) {
  HostEntry host;
  ParseHostBlock(
      "<CHK>t</CHK><PBIP>f</PBIP><DFLT>T </DFLT><PI> 30</PI><NOR>3x</NOR><TO>-7</TO>"
      "<TOD>-1</TOD><BSTR>300</BSTR><TTLTR>-1</TTLTR><MNOH>4294967297</MNOH><WRC>0</WRC>"
      "<GTIM></GTIM><PTTL>+12</PTTL>",
      host);
  EXPECT_FALSE(host.Enabled);     // only "T" is true
  EXPECT_FALSE(host.PingByIP);    // anything but "T" is false
  EXPECT_FALSE(host.UseAsDefault);
  EXPECT_EQ(host.PingInterval, 0);  // the blank stops the number
  EXPECT_EQ(host.Retries, 3);
  EXPECT_EQ(host.TimeOut, -7);
  EXPECT_EQ(host.Times, ~uint64_t{0});
  EXPECT_EQ(host.TraceBufferSize, 44);  // low 8 bits of 300
  EXPECT_EQ(host.TraceTTL, 255);
  EXPECT_EQ(host.MaxNumHops, 1);  // 32-bit wrap
  EXPECT_EQ(host.OnRenewal.RepeatCount, 0);
  EXPECT_EQ(host.LightTimes[0], 0);
  EXPECT_EQ(host.LightTimes[1], 1666);
  EXPECT_EQ(host.PTTL, 12);
}

TEST(HostBlockTest, RepeatCountZeroIsNotWrittenAndReadsBackAsOne) {
  HostEntry host, read;
  host.OnLoss.RepeatCount = 0;
  const std::string block = FormatHostBlock(host);
  EXPECT_EQ(block.find("DRC"), std::string::npos);
  ParseHostBlock(block, read);
  EXPECT_EQ(read.OnLoss.RepeatCount, 1);
}

// ---- Load and save ----

class DataFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("sentrel-core-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  std::string Folder() const { return folder_.string(); }
  fs::path File() const { return folder_ / "sentrel.xml"; }
  fs::path Backup() const { return folder_ / "sentrel.BAK"; }

  std::set<std::string> FolderEntries() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_)) names.insert(e.path().filename());
    return names;
  }

  HostEntry& Append(HostList& list, const std::string& ip) {
    auto host = list.CreateHost();
    host->HostIP.Set(ip);
    const auto row = list.AppendHost(std::move(host));
    EXPECT_TRUE(row.has_value());
    return list.Host(*row);
  }

  testing::FakeClock clock_{EncodeDateTime({2026, 12, 7, 10, 0, 0, 0})};
  BoxRecorder desktop_;
  fs::path folder_;
};

TEST_F(DataFileTest, MissingEmptyOrBlocklessFileLoadsNothing) {
  HostList list(clock_);
  EXPECT_EQ(LoadHosts(list, Folder()), 0u);
  WriteFile(File(), "");
  EXPECT_EQ(LoadHosts(list, Folder()), 0u);
  WriteFile(File(), "<HIP>1.2.3.4</HIP>\r\n</H>\r\n");
  EXPECT_EQ(LoadHosts(list, Folder()), 0u);
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_FALSE(list.Loading());
}

TEST_F(DataFileTest, LoaderTakesBlocksUntilOneIsUnclosed) {
  WriteFile(File(),
            "junk<H><HIP>1.1.1.1</HIP><CHK>T</CHK></H>between"
            "<H>\r\n<HIP>2.2.2.2</HIP>\r\n</H>\r\n"
            "<H><HIP>3.3.3.3</HIP>\r\n");
  HostList list(clock_);
  EXPECT_EQ(LoadHosts(list, Folder()), 2u);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Host(0).HostIP.Get(), "1.1.1.1");
  EXPECT_TRUE(list.Host(0).Enabled);
  EXPECT_EQ(list.Host(1).HostIP.Get(), "2.2.2.2");
  EXPECT_FALSE(list.Host(1).Enabled);
  EXPECT_FALSE(list.Modified());
}

TEST_F(DataFileTest, ClosingBeforeOpeningGivesADefaultHost) {
  WriteFile(File(), "</H><H><HIP>5.5.5.5</HIP></H>");
  HostList list(clock_);
  ASSERT_EQ(LoadHosts(list, Folder()), 2u);
  EXPECT_EQ(list.Host(0).HostIP.Get(), "127.0.0.1");
  EXPECT_EQ(list.Host(1).HostIP.Get(), "5.5.5.5");
}

TEST_F(DataFileTest, LaterOfTwoMarkedHostsBecomesTheDefault) {
  WriteFile(File(), "<H><DFLT>T</DFLT></H><H></H><H><DFLT>T</DFLT></H><H></H>");
  HostList list(clock_);
  ASSERT_EQ(LoadHosts(list, Folder()), 4u);
  EXPECT_EQ(list.DefaultIndex(), 3);
  EXPECT_TRUE(list.Host(0).UseAsDefault);
  EXPECT_TRUE(list.Host(2).UseAsDefault);
}

TEST_F(DataFileTest, LoaderStopsAtTheHostLimit) {
  std::string bytes;
  for (int i = 0; i < 1030; ++i) bytes += "<H><HN>h" + std::to_string(i) + "</HN></H>";
  WriteFile(File(), bytes);
  HostList list(clock_);
  EXPECT_EQ(LoadHosts(list, Folder()), kMaxHosts);
  EXPECT_EQ(list.Host(kMaxHosts - 1).HostName.Get(), "h1023");
}

TEST_F(DataFileTest, SavedListLoadsBackFieldByField) {
  HostList list(clock_);
  SetEveryField(Append(list, "a"), "first");
  Append(list, "10.0.0.5").Enabled = true;
  SetEveryField(Append(list, "c"), "third");
  list.Host(2).UseAsDefault = false;
  list.Host(2).Enabled = false;
  ASSERT_EQ(SaveHosts(list, Folder(), desktop_), SaveResult::Saved);
  EXPECT_FALSE(list.Modified());
  EXPECT_EQ(ReadFile(File()), FormatHostFile(list));

  HostList loaded(clock_);
  ASSERT_EQ(LoadHosts(loaded, Folder()), 3u);
  EXPECT_EQ(loaded.DefaultIndex(), 1);
  for (std::size_t row = 0; row < 3; ++row) {
    auto expected = StoredFields(list.Host(row));
    expected["OnRenewal.RunTraceRoute"] = "0";
    EXPECT_EQ(StoredFields(loaded.Host(row)), expected) << "row " << row;
  }
  EXPECT_TRUE(desktop_.boxes.empty());
}

TEST_F(DataFileTest, UnmodifiedListIsNotWritten) {
  HostList list(clock_);
  Append(list, "1.2.3.4");
  list.SetModified(false);
  EXPECT_EQ(SaveHosts(list, Folder(), desktop_), SaveResult::NotModified);
  EXPECT_FALSE(fs::exists(File()));
}

TEST_F(DataFileTest, SavingTwiceKeepsOneBackupOfThePreviousFile) {
  HostList list(clock_);
  Append(list, "1.1.1.1");
  ASSERT_EQ(SaveHosts(list, Folder(), desktop_), SaveResult::Saved);
  EXPECT_FALSE(fs::exists(Backup()));
  const std::string first = ReadFile(File());

  Append(list, "2.2.2.2");
  ASSERT_EQ(SaveHosts(list, Folder(), desktop_), SaveResult::Saved);
  const std::string second = ReadFile(File());
  EXPECT_EQ(ReadFile(Backup()), first);

  Append(list, "3.3.3.3");
  ASSERT_EQ(SaveHosts(list, Folder(), desktop_), SaveResult::Saved);
  EXPECT_EQ(ReadFile(Backup()), second);
  EXPECT_EQ(ReadFile(File()), FormatHostFile(list));
  EXPECT_EQ(FolderEntries(), (std::set<std::string>{"sentrel.xml", "sentrel.BAK"}));
}

TEST_F(DataFileTest, MissingFolderIsCreatedOnlyWhenTheUserAgrees) {
  const std::string nested = (folder_ / "a" / "b").string();
  HostList list(clock_);
  Append(list, "1.1.1.1");

  desktop_.answer = MessageResult::No;
  EXPECT_EQ(SaveHosts(list, nested, desktop_), SaveResult::NoFolder);
  EXPECT_FALSE(fs::exists(folder_ / "a"));
  EXPECT_FALSE(list.Modified());  // the next change asks again
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text, "Directory \"" + nested + "\" isn't exist. Will create it?");
  EXPECT_EQ(desktop_.boxes[0].caption, "Sentrel");
  EXPECT_EQ(desktop_.boxes[0].icon, MessageIcon::Question);
  EXPECT_EQ(desktop_.boxes[0].buttons, MessageButtons::YesNo);

  desktop_.answer = MessageResult::Yes;
  list.SetModified(true);
  EXPECT_EQ(SaveHosts(list, nested, desktop_), SaveResult::Saved);
  EXPECT_EQ(ReadFile(fs::path(nested) / "sentrel.xml"), FormatHostFile(list));
  EXPECT_EQ(desktop_.boxes.size(), 2u);
}

TEST_F(DataFileTest, FolderThatCannotBeCreatedIsReported) {
  WriteFile(folder_ / "plain-file", "x");
  const std::string impossible = (folder_ / "plain-file" / "data").string();
  HostList list(clock_);
  Append(list, "1.1.1.1");
  EXPECT_EQ(SaveHosts(list, impossible, desktop_), SaveResult::NoFolder);
  EXPECT_FALSE(list.Modified());
  ASSERT_EQ(desktop_.boxes.size(), 2u);
  EXPECT_EQ(desktop_.boxes[1].icon, MessageIcon::Error);
  EXPECT_NE(desktop_.boxes[1].text.find(impossible), std::string::npos);
}

// A file-size limit makes the write fail half-way, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  sighandler_t oldHandler_;
};

TEST_F(DataFileTest, FailedWriteKeepsTheOldFileAndModified) {
  HostList list(clock_);
  Append(list, "1.1.1.1");
  ASSERT_EQ(SaveHosts(list, Folder(), desktop_), SaveResult::Saved);
  const std::string before = ReadFile(File());

  for (int i = 0; i < 60; ++i) Append(list, "10.0.0." + std::to_string(i));
  ASSERT_GT(FormatHostFile(list).size(), 4096u);
  SaveResult result;
  {
    FileSizeLimit limit(2048);
    result = SaveHosts(list, Folder(), desktop_);
  }
  EXPECT_EQ(result, SaveResult::Failed);
  EXPECT_TRUE(list.Modified());
  EXPECT_EQ(ReadFile(File()), before);
  EXPECT_FALSE(fs::exists(Backup()));
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"sentrel.xml"});
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].icon, MessageIcon::Error);
  EXPECT_EQ(desktop_.boxes[0].caption, "Sentrel");
  EXPECT_NE(desktop_.boxes[0].text.find(File().string()), std::string::npos);

  // With room again the same list is saved.
  EXPECT_EQ(SaveHosts(list, Folder(), desktop_), SaveResult::Saved);
  EXPECT_EQ(ReadFile(Backup()), before);
}

// Random and mutated files: the loader must take what it can and never read
// out of bounds (the sanitizer build checks that).
TEST_F(DataFileTest, DamagedFilesNeverBreakTheLoader) {
  HostList source(clock_);
  for (int i = 0; i < 4; ++i) SetEveryField(Append(source, "h"), std::to_string(i));
  const std::string valid = FormatHostFile(source);

  std::mt19937 rng(20261207);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(rng); };
  const std::string pieces[] = {"<H>", "</H>", "<HIP>", "</HIP>", "<TOD>", "-", "\0"s, "<",
                                ">", "</", "\r\n", "T"};
  for (int round = 0; round < 400; ++round) {
    std::string bytes;
    if (round % 4 == 0) {
      bytes.resize(pick(2048));
      for (char& c : bytes) c = static_cast<char>(pick(255));
    } else {
      bytes = valid;
      const std::size_t edits = 1 + pick(20);
      for (std::size_t e = 0; e < edits && !bytes.empty(); ++e) {
        const std::size_t at = pick(bytes.size() - 1);
        switch (pick(3)) {
          case 0: bytes[at] = static_cast<char>(pick(255)); break;
          case 1: bytes.erase(at, pick(40)); break;
          case 2: bytes.insert(at, pieces[pick(std::size(pieces) - 1)]); break;
          default: bytes.resize(at); break;
        }
      }
    }
    WriteFile(File(), bytes);
    HostList list(clock_);
    const std::size_t loaded = LoadHosts(list, Folder());
    ASSERT_EQ(loaded, list.Count());
    ASSERT_LE(list.DefaultIndex(), static_cast<int>(list.Count()));
    if (list.DefaultIndex() > 0) {
      ASSERT_TRUE(list.Host(static_cast<std::size_t>(list.DefaultIndex()) - 1).UseAsDefault);
    }
    std::size_t closings = 0;
    for (std::size_t pos = 0; (pos = bytes.find("</H>", pos)) != std::string::npos; ++pos) {
      ++closings;
    }
    ASSERT_LE(loaded, closings);
  }
}

}  // namespace
}  // namespace sentrel
