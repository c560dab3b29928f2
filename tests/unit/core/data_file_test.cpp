#include "core/data_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "core_test_util.h"
#include "fakes/fake_clock.h"
#include "fakes/text_samples.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::BlockLines;
using testing::SetEveryField;

TEST(HostBlockTest, WritesTheExactBytes) {
  HostEntry host;
  EXPECT_EQ(FormatHostBlock(host),
            "<H>\r\n<HIP>127.0.0.1</HIP>\r\n<GTIM>1250</GTIM>\r\n<LTIM>1666</LTIM>\r\n"
            "<YTIM>2500</YTIM>\r\n<OTIM>5000</OTIM>\r\n</H>\r\n");
  host.Enabled = true;
  host.HostIP.Set("10.0.0.5");
  host.PingInterval = 30;
  EXPECT_EQ(FormatHostBlock(host),
            "<H>\r\n<CHK>T</CHK>\r\n<HIP>10.0.0.5</HIP>\r\n<PI>30</PI>\r\n<GTIM>1250</GTIM>\r\n"
            "<LTIM>1666</LTIM>\r\n<YTIM>2500</YTIM>\r\n<OTIM>5000</OTIM>\r\n</H>\r\n");
}

TEST(HostBlockTest, EveryFieldIsWrittenInOrderAndReadBack) {
  HostEntry written, read;
  SetEveryField(written);
  std::vector<std::string> tags;
  for (const std::string& line : BlockLines(written)) {
    if (line[0] == '<') tags.push_back(line.substr(1, line.find('>') - 1));
  }
  const std::vector<std::string> expected = {
      "H",    "CHK",  "HIP",  "HN",   "HDS",  "CHS",  "DOM",  "DOW",   "TOD",  "PI",   "NOR",
      "TO",   "PTTL", "PTOS", "PBS",  "TOTR", "BSTR", "TTLTR", "MNOH", "GTIM", "LTIM", "YTIM",
      "OTIM", "PBIP", "DFLT", "WIA",  "WRC",  "WISB", "WIPW", "WWN",   "WISL", "WLN",  "WISE",
      "WEA",  "WIR",  "WPN",  "WCL",  "WSBJ", "WMB",  "WHK",  "DIA",  "DRC",   "DISB", "DIPW", "DWN",
      "DISL", "DLN",  "DISE", "DEA",  "DIR",  "DPN",  "DCL",  "DRTR",  "DSBJ", "DMB",  "DHK",  "DGL",
      "DGP",  "DGN",  "DGHK", "/H"};
  EXPECT_EQ(tags, expected);

  ParseHostBlock(FormatHostBlock(written), read);
  EXPECT_EQ(BlockLines(read), BlockLines(written));
  EXPECT_FALSE(read.OnRenewal.RunTraceRoute);  // lives in memory only
  EXPECT_EQ(read.Times, written.Times);
  EXPECT_EQ(read.HostDesc.Get(), written.HostDesc.Get());
}

struct ReadTagCase {
  const char* name;
  std::string text;
  const char* tag;
  const char* expected;
};

class ReadTagTest : public ::testing::TestWithParam<ReadTagCase> {};

TEST_P(ReadTagTest, ReadsLikeTheOnlyReaderOfTheFormat) {
  EXPECT_EQ(ReadTag(GetParam().text, GetParam().tag, "dflt"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadTagTest,
    ::testing::Values(ReadTagCase{"Plain", "<HN>mail</HN>", "HN", "mail"},
                      ReadTagCase{"Empty", "<HN></HN>", "HN", ""},
                      ReadTagCase{"NoOpening", "mail</HN>", "HN", "dflt"},
                      ReadTagCase{"NoClosing", "<HN>mail", "HN", "dflt"},
                      ReadTagCase{"ClosingFirst", "</HN>x<HN>mail", "HN", ""},
                      ReadTagCase{"LetterCase", "<hn>mail</hn>", "HN", "dflt"},
                      ReadTagCase{"PrefixOfLongerTag", "<DISB>T</DISB>", "DIS", "dflt"},
                      ReadTagCase{"FirstOfEach", "<HN>a<HN>b</HN>c</HN>", "HN", "a<HN>b"},
                      ReadTagCase{"NothingTrimmed", "<PI> 30\r\n</PI>", "PI", " 30\r\n"},
                      ReadTagCase{"ZeroByteEndsText", "<HN>a\0</HN>"s, "HN", "dflt"}),
    [](const ::testing::TestParamInfo<ReadTagCase>& p) { return p.param.name; });

TEST(HostBlockTest, DamagedValuesReadAsTheFormatSays) {
  HostEntry host;
  ParseHostBlock(
      "<CHK>t</CHK><PBIP>f</PBIP><PI> 30</PI><NOR>3x</NOR><TO>-7</TO><TOD>-1</TOD>"
      "<BSTR>300</BSTR><TTLTR>-1</TTLTR><MNOH>4294967297</MNOH><GTIM></GTIM><PTTL>+12</PTTL>",
      host);
  EXPECT_FALSE(host.Enabled);   // only "T" is true
  EXPECT_FALSE(host.PingByIP);  // anything but "T" is false
  EXPECT_EQ(host.PingInterval, 0);  // the blank stops the number
  EXPECT_EQ(host.Retries, 3);
  EXPECT_EQ(host.TimeOut, -7);
  EXPECT_EQ(host.Times, ~uint64_t{0});
  EXPECT_EQ(host.TraceBufferSize, 44);  // low 8 bits of 300
  EXPECT_EQ(host.TraceTTL, 255);
  EXPECT_EQ(host.MaxNumHops, 1);  // 32-bit wrap
  EXPECT_EQ(host.LightTimes[0], 0);
  EXPECT_EQ(host.LightTimes[1], 1666);
  EXPECT_EQ(host.PTTL, 12);

  HostEntry zeroRepeats, reread;
  zeroRepeats.OnLoss.RepeatCount = 0;
  EXPECT_EQ(FormatHostBlock(zeroRepeats).find("DRC"), std::string::npos);
  ParseHostBlock(FormatHostBlock(zeroRepeats), reread);
  EXPECT_EQ(reread.OnLoss.RepeatCount, 1);
}

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

  static std::string Read(const fs::path& path) {
    std::string bytes(fs::exists(path) ? fs::file_size(path) : 0, '\0');
    std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
  }
  void WriteHostFile(const std::string& bytes) {
    std::ofstream(folder_ / "sentrel.xml", std::ios::binary) << bytes;
  }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_)) names.insert(e.path().filename());
    return names;
  }
  HostEntry& Append(HostList& list, const std::string& ip) {
    auto host = list.CreateHost();
    host->HostIP.Set(ip);
    return list.Host(*list.AppendHost(std::move(host)));
  }
  std::string Ips(const HostList& list) const {
    std::string ips;
    for (std::size_t row = 0; row < list.Count(); ++row) ips += list.Host(row).HostIP.Get() + ";";
    return ips;
  }

  testing::FakeClock clock_{EncodeDateTime({2026, 12, 7, 10, 0, 0, 0})};
  testing::BoxRecorder desktop_;
  fs::path folder_;
  std::string dir() const { return folder_.string(); }
};

TEST_F(DataFileTest, LoaderTakesWhatTheBlocksHold) {
  struct Case {
    std::string bytes;
    std::string ips;
    int defaultIndex;
  };
  const Case cases[] = {
      {"", "", 0},
      {"<HIP>1.2.3.4</HIP>\r\n</H>\r\n", "", 0},
      {"junk<H><HIP>1.1.1.1</HIP></H>mid<H>\r\n<HIP>2.2.2.2</HIP>\r\n</H>\r\n<H><HIP>3.3.3.3</HIP>",
       "1.1.1.1;2.2.2.2;", 0},
      {"</H><H><HIP>5.5.5.5</HIP></H>", "127.0.0.1;5.5.5.5;", 0},
      {"<H><DFLT>T</DFLT></H><H></H><H><DFLT>T</DFLT></H><H></H>",
       "127.0.0.1;127.0.0.1;127.0.0.1;127.0.0.1;", 3},
  };
  for (const Case& c : cases) {
    WriteHostFile(c.bytes);
    HostList list(clock_);
    const std::size_t loaded = LoadHosts(list, dir()).loaded;
    EXPECT_EQ(loaded, list.Count());
    EXPECT_EQ(Ips(list), c.ips) << c.bytes;
    EXPECT_EQ(list.DefaultIndex(), c.defaultIndex) << c.bytes;
    EXPECT_FALSE(list.Loading());
  }
  fs::remove(folder_ / "sentrel.xml");
  HostList none(clock_);
  EXPECT_EQ(LoadHosts(none, dir()).loaded, 0u);

  std::string many;
  for (int i = 0; i < 1030; ++i) many += "<H><HN>h" + std::to_string(i) + "</HN><CHK>T</CHK></H>";
  WriteHostFile(many);
  HostList full(clock_);
  EXPECT_EQ(LoadHosts(full, dir()).loaded, kMaxHosts);
  EXPECT_EQ(full.Host(kMaxHosts - 1).HostName.Get(), "h1023");
  EXPECT_TRUE(full.Host(0).Enabled);
  EXPECT_FALSE(full.Modified());
}

TEST_F(DataFileTest, SavedListLoadsBackFieldByField) {
  HostList list(clock_);
  SetEveryField(Append(list, "a"), "first");
  Append(list, "10.0.0.5").Enabled = true;
  SetEveryField(Append(list, "c"), "third");
  list.Host(2).UseAsDefault = false;
  ASSERT_EQ(SaveHosts(list, dir(), desktop_), SaveResult::Saved);
  EXPECT_FALSE(list.Modified());

  HostList loaded(clock_);
  ASSERT_EQ(LoadHosts(loaded, dir()).loaded, 3u);
  EXPECT_EQ(loaded.DefaultIndex(), 1);
  for (std::size_t row = 0; row < 3; ++row) {
    EXPECT_EQ(BlockLines(loaded.Host(row)), BlockLines(list.Host(row)));
  }
  EXPECT_TRUE(desktop_.boxes.empty());
}

class DataFileTextTest : public DataFileTest,
                         public ::testing::WithParamInterface<testing::TextSample> {};

// Texts are held decoded; a field nobody edits goes back to the file as the
// bytes it came from, an edited one as UTF-8.
TEST_P(DataFileTextTest, UntouchedFieldsKeepTheirBytesAndEditedOnesBecomeUtf8) {
  const std::string bytes(GetParam().bytes);
  const std::string text(GetParam().text);
  HostEntry stored;
  stored.HostName.Set(bytes);
  stored.HostDesc.Set(bytes);
  stored.OnLoss.Subject.Set(bytes);
  const std::string file = FormatHostBlock(stored);
  WriteHostFile(file);

  HostList list(clock_);
  ASSERT_EQ(LoadHosts(list, dir()).loaded, 1u);
  HostEntry& host = list.Host(0);
  EXPECT_EQ(host.HostName.Get(), text);
  EXPECT_EQ(host.HostDesc.Get(), text);
  EXPECT_EQ(host.OnLoss.Subject.Get(), text);

  list.SetModified(true);
  ASSERT_EQ(SaveHosts(list, dir(), desktop_), SaveResult::Saved);
  EXPECT_EQ(Read(folder_ / "sentrel.xml"), file);

  host.HostDesc.Set(text + " 2");
  list.SetModified(true);
  ASSERT_EQ(SaveHosts(list, dir(), desktop_), SaveResult::Saved);
  std::string edited = file;
  edited.replace(edited.find("<HDS>") + 5, bytes.size(), text + " 2");
  EXPECT_EQ(Read(folder_ / "sentrel.xml"), edited);
}

INSTANTIATE_TEST_SUITE_P(Samples, DataFileTextTest, ::testing::ValuesIn(testing::kTextSamples),
                         testing::SampleName);

TEST_F(DataFileTest, EverySaveKeepsOneBackupOfThePreviousFile) {
  HostList list(clock_);
  Append(list, "1.1.1.1");
  list.SetModified(false);
  EXPECT_EQ(SaveHosts(list, dir(), desktop_), SaveResult::NotModified);
  EXPECT_TRUE(Entries().empty());

  std::string previous;
  for (const char* ip : {"2.2.2.2", "3.3.3.3", "4.4.4.4"}) {
    Append(list, ip);
    ASSERT_EQ(SaveHosts(list, dir(), desktop_), SaveResult::Saved);
    EXPECT_EQ(Read(folder_ / "sentrel.xml"), FormatHostFile(list));
    EXPECT_EQ(Read(folder_ / "sentrel.BAK"), previous);  // none after the first save
    previous = Read(folder_ / "sentrel.xml");
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"sentrel.xml", "sentrel.BAK"}));
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
  EXPECT_EQ(Read(fs::path(nested) / "sentrel.xml"), FormatHostFile(list));

  // Below a plain file no folder can be made: said so, nothing written.
  std::ofstream(folder_ / "plain") << "x";
  const std::string impossible = (folder_ / "plain" / "data").string();
  list.SetModified(true);
  EXPECT_EQ(SaveHosts(list, impossible, desktop_), SaveResult::NoFolder);
  EXPECT_FALSE(list.Modified());
  ASSERT_EQ(desktop_.boxes.size(), 4u);
  EXPECT_EQ(desktop_.boxes[3].icon, MessageIcon::Error);
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
  ASSERT_EQ(SaveHosts(list, dir(), desktop_), SaveResult::Saved);
  const std::string before = Read(folder_ / "sentrel.xml");

  for (int i = 0; i < 60; ++i) Append(list, "10.0.0." + std::to_string(i));
  ASSERT_GT(FormatHostFile(list).size(), 4096u);
  SaveResult result;
  {
    FileSizeLimit limit(2048);
    result = SaveHosts(list, dir(), desktop_);
  }
  EXPECT_EQ(result, SaveResult::Failed);
  EXPECT_TRUE(list.Modified());
  EXPECT_EQ(Read(folder_ / "sentrel.xml"), before);
  EXPECT_EQ(Entries(), std::set<std::string>{"sentrel.xml"});
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].icon, MessageIcon::Error);
  EXPECT_NE(desktop_.boxes[0].text.find((folder_ / "sentrel.xml").string()), std::string::npos);

  EXPECT_EQ(SaveHosts(list, dir(), desktop_), SaveResult::Saved);  // room again
  EXPECT_EQ(Read(folder_ / "sentrel.BAK"), before);
}

// Random and mutated files: the loader takes what it can and never reads out
// of bounds (the sanitizer build checks that).
TEST_F(DataFileTest, DamagedFilesNeverBreakTheLoader) {
  HostList source(clock_);
  for (int i = 0; i < 4; ++i) SetEveryField(Append(source, "h"), std::to_string(i));
  const std::string valid = FormatHostFile(source);
  const std::string pieces[] = {"<H>", "</H>", "<HIP>", "</HIP>", "<TOD>", "-", "\0"s, "</", "\r\n"};

  std::mt19937 rng(20261207);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(rng); };
  for (int round = 0; round < 400; ++round) {
    std::string bytes = valid;
    if (round % 4 == 0) {
      bytes.resize(pick(2048));
      for (char& c : bytes) c = static_cast<char>(pick(255));
    }
    for (std::size_t e = 1 + pick(20); round % 4 != 0 && e > 0 && !bytes.empty(); --e) {
      const std::size_t at = pick(bytes.size() - 1);
      switch (pick(3)) {
        case 0: bytes[at] = static_cast<char>(pick(255)); break;
        case 1: bytes.erase(at, pick(40)); break;
        case 2: bytes.insert(at, pieces[pick(std::size(pieces) - 1)]); break;
        default: bytes.resize(at); break;
      }
    }
    WriteHostFile(bytes);
    HostList list(clock_);
    const std::size_t loaded = LoadHosts(list, dir()).loaded;
    std::size_t closings = 0;
    for (std::size_t pos = 0; (pos = bytes.find("</H>", pos)) != std::string::npos; ++pos) {
      ++closings;
    }
    ASSERT_LE(loaded, closings);
    ASSERT_LE(list.DefaultIndex(), static_cast<int>(loaded));
  }
}

}  // namespace
}  // namespace sentrel

namespace sentrel {
namespace {

// A file is written in one code page: its fields are read in the one that
// all of them together point to, never field by field; bytes go back as read.
TEST_F(DataFileTest, LegacyFileIsReadInOneCodePageAndWrittenBackByteForByte) {
  struct Case {
    std::string file;
    std::vector<std::string> names, descs;
  };
  const Case cases[] = {
      // Windows-1252: "ÄÖÜ-Büro" and "Élysée ÀÉÎ" alone would look Cyrillic.
      {"<H><HN>\xC4\xD6\xDC-B\xFCro</HN><HDS>\xC9lys\xE9" "e \xC0\xC9\xCE</HDS></H>\r\n"
       "<H><HN>Z\xFCrich</HN><HDS>Ger\xE4t</HDS><DMB>\xC0 \xE9t\xE9</DMB></H>\r\n",
       {"ÄÖÜ-Büro", "Zürich"}, {"Élysée ÀÉÎ", "Gerät"}},
      // Windows-1251: "Я1" alone says nothing, "ЦОД" could be Western capitals.
      {"<H><HN>\xDF" "1</HN><HDS>\xD6\xCE\xC4</HDS></H>\r\n"
       "<H><HN>\xD1\xE5\xF0\xE2\xE5\xF0</HN><HDS>\xEA\xEE\xEC\xED\xE0\xF2\xE0 5</HDS></H>\r\n",
       {"Я1", "Сервер"}, {"ЦОД", "комната 5"}},
  };
  for (const Case& c : cases) {
    WriteHostFile(c.file);
    HostList list(clock_);
    ASSERT_EQ(LoadHosts(list, dir()).loaded, 2u);
    for (std::size_t row = 0; row < 2; ++row) {
      EXPECT_EQ(list.Host(row).HostName.Get(), c.names[row]);
      EXPECT_EQ(list.Host(row).HostDesc.Get(), c.descs[row]);
    }
    const std::string written = FormatHostFile(list);
    for (const std::string_view tag : {"<HN>", "<HDS>", "<DMB>"}) {
      for (std::size_t at = c.file.find(tag); at != std::string::npos; at = c.file.find(tag, at + 1)) {
        const std::string element = c.file.substr(at, c.file.find('<', at + 1) - at);
        EXPECT_NE(written.find(element), std::string::npos) << element;
      }
    }
  }
}

// A file that exists but cannot be read is no empty list: the load says
// why, and no later save writes over it.
TEST_F(DataFileTest, UnreadableFileIsAnErrorAndNeverOverwritten) {
  try {
    fs::create_symlink("sentrel.xml", folder_ / "sentrel.xml");  // a link to itself
  } catch (const fs::filesystem_error&) {
    fs::create_directory(folder_ / "sentrel.xml");  // no links here: a folder in its place
  }
  HostList list(clock_);
  const HostFileLoad load = LoadHosts(list, dir());
  EXPECT_EQ(load.loaded, 0u);
  EXPECT_NE(load.error.find("sentrel.xml"), std::string::npos) << load.error;
  EXPECT_EQ(list.LoadError(), load.error);

  // Whatever the file holds by the time of a save stays.
  fs::remove(folder_ / "sentrel.xml");
  WriteHostFile("<H><HIP>10.0.0.1</HIP></H>");

  Append(list, "1.1.1.1");
  EXPECT_EQ(SaveHosts(list, dir(), desktop_), SaveResult::Failed);
  EXPECT_EQ(Read(folder_ / "sentrel.xml"), "<H><HIP>10.0.0.1</HIP></H>");
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].icon, MessageIcon::Error);
  EXPECT_TRUE(list.Modified());
}

}  // namespace
}  // namespace sentrel
