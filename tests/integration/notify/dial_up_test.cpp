#include "notify/dial_up.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fakes/fake_clock.h"
#include "fakes/fake_desktop.h"
#include "fakes/test_files.h"
#include "notify/send_mail.h"

namespace sentrel {
namespace {

using testing::ReadFile;
using testing::PutFile;

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::FakeDesktop;

// Each test gets a fake nmcli first on PATH and a world of its own: the
// profiles Office (a mobile line), Home (a PPPoE line) and "Lab: VPN".
class DialUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / (std::string("dial_up_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "bin");
    fs::create_directories(dir_ / "state");
    fs::copy_file(SENTREL_NOTIFY_PEER_DIR "/fake_nmcli", dir_ / "bin" / "nmcli");
    fs::permissions(dir_ / "bin" / "nmcli", fs::perms::owner_all);
    PutFile(State() / "entries", "Office\tgsm\nHome\tpppoe\nLab: VPN\tvpn\n");
    setenv("FAKE_NMCLI_STATE", State().c_str(), 1);
    const char* path = std::getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    setenv("PATH", ((dir_ / "bin").string() + ":" + savedPath_).c_str(), 1);

    options_.DialUp = true;
    options_.Connection = "Office";
    options_.Password = "line-secret";
    log_ = TransferLog((dir_ / "smtp.log").string());
    // Created only now, so that it finds the fake on PATH.
    owned_ = std::make_unique<DialUp>(Nmcli(Nmcli::Find()));
    owned_->SetSettleWait(std::chrono::milliseconds(5), std::chrono::seconds(5));
  }
  void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

  fs::path State() const { return dir_ / "state"; }
  std::string Calls() const { return ReadFile(State() / "calls"); }
  bool Called(const std::string& what) const { return Calls().find(what) != std::string::npos; }
  std::string Log() const { return ReadFile(dir_ / "smtp.log"); }

  fs::path dir_;
  std::string savedPath_;
  ROptions options_;
  FakeDesktop desktop_;
  TransferLog log_;
  std::unique_ptr<DialUp> owned_;
  DialUp& dial() { return *owned_; }
};

TEST_F(DialUpTest, FindsNmcliOnPathAndListsEntries) {
  EXPECT_EQ(Nmcli::Find(), (dir_ / "bin" / "nmcli").string());
  EXPECT_EQ(dial().ListEntries(), (std::vector<std::string>{"Office", "Home", "Lab: VPN"}));
  EXPECT_TRUE(dial().EntryExists("Lab: VPN"));
}

TEST_F(DialUpTest, DialUpOffOrNmcliMissingRunsNothing) {
  options_.DialUp = false;
  EXPECT_EQ(dial().ConnectPhase(options_, desktop_, log_), DialOutcome::NotNeeded);
  dial().ReleasePhase(options_, DialOutcome::NotNeeded);

  options_.DialUp = true;
  DialUp missing{Nmcli("")};
  EXPECT_FALSE(missing.Available());
  EXPECT_EQ(missing.ConnectPhase(options_, desktop_, log_), DialOutcome::NotNeeded);
  EXPECT_TRUE(missing.ListEntries().empty());

  EXPECT_FALSE(fs::exists(State() / "calls"));
  EXPECT_TRUE(desktop_.Calls().empty());
}

TEST_F(DialUpTest, MissingEntryWarnsAndLetsTheTransferGoAhead) {
  for (const char* name : {"office", "Nowhere", ""}) {
    options_.Connection = name;
    EXPECT_EQ(dial().ConnectPhase(options_, desktop_, log_), DialOutcome::NotNeeded) << name;
  }
  EXPECT_EQ(desktop_.Calls(), std::vector<std::string>(3, "box:Sentrel:Can't find the connection!"));
  EXPECT_FALSE(Called("connection up"));
  EXPECT_EQ(dial().UseCount(), 0);
}

TEST_F(DialUpTest, LineAlreadyUpIsUsedWithoutDiallingAndNotHungUp) {
  PutFile(State() / "active", "Office:activated\n");
  options_.Disconnect = true;
  EXPECT_EQ(dial().ConnectPhase(options_, desktop_, log_), DialOutcome::Up);
  EXPECT_EQ(dial().UseCount(), 1);
  dial().ReleasePhase(options_, DialOutcome::Up);
  EXPECT_EQ(dial().UseCount(), 0);
  // Another program brought the line up; it is not ours to end.
  EXPECT_FALSE(Called("connection up"));
  EXPECT_FALSE(Called("connection down"));
}

TEST_F(DialUpTest, DialSettlesWithProgressAndIsHungUpAfterwards) {
  PutFile(State() / "settle", "2");
  options_.Disconnect = true;
  EXPECT_EQ(dial().ConnectPhase(options_, desktop_, log_), DialOutcome::Up);
  EXPECT_EQ(Log(), "Connecting device\r\nConnected\r\n");
  EXPECT_TRUE(Called("--wait 0 connection up id Office passwd-file "));
  EXPECT_EQ(ReadFile(State() / "passwd"), "gsm.password:line-secret\n");
  dial().ReleasePhase(options_, DialOutcome::Up);
  EXPECT_TRUE(Called("--wait 15 connection down id Office"));
  EXPECT_TRUE(desktop_.Calls().empty());
}

TEST_F(DialUpTest, OnlyTheLastUserOfTheLineHangsUp) {
  PutFile(State() / "settle", "0");
  options_.Disconnect = true;
  ASSERT_EQ(dial().ConnectPhase(options_, desktop_, log_), DialOutcome::Up);
  ASSERT_EQ(dial().ConnectPhase(options_, desktop_, log_), DialOutcome::Up);
  EXPECT_EQ(dial().UseCount(), 2);
  dial().ReleasePhase(options_, DialOutcome::Up);
  EXPECT_FALSE(Called("connection down"));
  dial().ReleasePhase(options_, DialOutcome::Up);
  EXPECT_TRUE(Called("connection down id Office"));
  // One dial served both transfers.
  const std::string calls = Calls();
  EXPECT_EQ(calls.find("connection up"), calls.rfind("connection up"));
}

TEST_F(DialUpTest, WaitForTheLineIsBounded) {
  PutFile(State() / "settle", "never");
  dial().SetSettleWait(std::chrono::milliseconds(10), std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dial().ConnectPhase(options_, desktop_, log_), DialOutcome::Up);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(Log(), "Connecting device\r\nDial-up wait timed out\r\n");
}

TEST_F(DialUpTest, DialThatEndsDisconnectedStillLetsTheTransferRun) {
  PutFile(State() / "settle", "drop");
  EXPECT_EQ(dial().ConnectPhase(options_, desktop_, log_), DialOutcome::Up);
  EXPECT_EQ(Log(), "Disconnected\r\n");
}

TEST_F(DialUpTest, RefusedDialShowsTheReasonAndStopsTheMail) {
  PutFile(State() / "up_error",
            "Error: Connection activation failed: No suitable device found for this connection.\n");
  FakeClock clock;
  MailContext context{desktop_, clock, dial(), true, dir_.string(), 1000};
  options_.PathToLog = dir_.string();
  options_.ServerName = "127.0.0.1";
  SendMail(options_, context, "a@x.test", "Body", "Subject");

  EXPECT_EQ(desktop_.Calls(),
            std::vector<std::string>{"box:RAS Error!:Error: Connection activation failed: No "
                                     "suitable device found for this connection."});
  // No transfer was tried, and the line counts as unused.
  EXPECT_EQ(Log().find("Server IP"), std::string::npos);
  EXPECT_EQ(dial().UseCount(), 0);
}

TEST_F(DialUpTest, UnreadableEntrySettingsFailSilently) {
  // Listed, but its settings cannot be read.
  PutFile(State() / "entries", "Office\n");
  EXPECT_EQ(dial().ConnectPhase(options_, desktop_, log_), DialOutcome::Failed);
  EXPECT_TRUE(desktop_.Calls().empty());
  EXPECT_FALSE(Called("connection up"));
}

}  // namespace
}  // namespace sentrel
