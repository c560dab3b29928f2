#include "core/alarm.h"

#include <gtest/gtest.h>

#include "core/monitor.h"
#include "engine_test_env.h"
#include "probes/address.h"

namespace sentrel {
namespace {

using testing::EngineEnv;

const DateTextFormats kFormats{"%d.%m.%Y", "%H:%M:%S"};
constexpr const char* kStatus = "05.12.2026 14:03:07 10.0.0.7 (web1) is failed.\r\n";

class TemplateTest : public ::testing::Test {
 protected:
  TemplateTest() {
    host.HostName.Set("web1");
    host.HostIP.Set("10.0.0.7");
    host.StatusStr.Set(kStatus);
    host.LastCheck = EncodeDateTime({2026, 12, 5, 14, 3, 7, 0});
  }
  HostEntry host;
};

TEST_F(TemplateTest, EmptyTemplatesGiveTheDefaults) {
  EXPECT_EQ(ExpandSubject(host, "", kFormats), "Sentrel Message!!!");
  EXPECT_EQ(ExpandBody(host, "", kFormats), kStatus) << "the status line keeps its CR LF";
}

TEST_F(TemplateTest, PlaceholdersAreReplacedEverywhere) {
  EXPECT_EQ(ExpandSubject(host, "%HostName% down at %Time%", kFormats), "web1 down at 14:03:07");
  EXPECT_EQ(ExpandBody(host, "%StatusStr%", kFormats), "05.12.2026 14:03:07 10.0.0.7 (web1) is failed.");
  EXPECT_EQ(ExpandBody(host, "%Date%|%HostIP%|%Date%|%hostip%", kFormats),
            "05.12.2026|10.0.0.7|05.12.2026|%hostip%");
  host.HostName.Set("  spaced\t");
  host.StatusStr.Set("\t status \r\n");
  EXPECT_EQ(ExpandBody(host, "<%StatusStr%><%HostName%><%Time%>", {"%d", " %H "}),
            "<status><  spaced\t><14>")
      << "date, time and status are trimmed, the name is not";
}

TEST_F(TemplateTest, LaterPassesSeeWhatEarlierOnesInsertedButNoPassRescansItself) {
  // The status line is inserted before the name pass runs, so a placeholder
  // inside it is replaced; the date pass ran before and leaves its own.
  host.StatusStr.Set("up %HostName% %Date%\r\n");
  EXPECT_EQ(ExpandBody(host, "[%StatusStr%]", kFormats), "[up web1 %Date%]");
  host.HostName.Set("a%HostName%b");
  EXPECT_EQ(ExpandSubject(host, "%HostName%/%HostName%", kFormats), "a%HostName%b/a%HostName%b");
}

class FixedFigures final : public HistoryFigures {
 public:
  std::optional<double> LossLastHour(const HistoryHost& host, DateTime) const override {
    ++asked;
    seen = host;
    return loss;
  }
  std::optional<double> LatestOutageSeconds(const HistoryHost&, DateTime) const override {
    ++asked;
    return outage;
  }
  std::optional<double> loss;
  std::optional<double> outage;
  mutable int asked = 0;
  mutable HistoryHost seen;
};

TEST_F(TemplateTest, HistoryPlaceholdersAreAskedForOnlyWhereTheyAppear) {
  FixedFigures figures;
  figures.loss = 12.5;
  figures.outage = 3 * 3600 + 4 * 60 + 5;
  EXPECT_EQ(ExpandBody(host, "%HostName%: %Loss% lost, down %Outage%", kFormats, &figures),
            "web1: 12.5% lost, down 3:04:05");
  EXPECT_EQ(figures.seen, (HistoryHost{"10.0.0.7", "web1"}));
  host.PingByIP = false;
  ExpandBody(host, "%Loss%", kFormats, &figures);
  EXPECT_EQ(figures.seen, (HistoryHost{"", "web1"})) << "a host pinged by name is its name";

  figures.asked = 0;
  host.HostName.Set("%Loss%");
  EXPECT_EQ(ExpandSubject(host, "%HostName% at %Time%", kFormats, &figures), "%Loss% at 14:03:07")
      << "a template without them reads as it always did";
  EXPECT_EQ(figures.asked, 0);

  figures.loss.reset();
  EXPECT_EQ(ExpandBody(host, "[%Loss%|%Outage%]", kFormats, &figures), "[n/a|3:04:05]");
  EXPECT_EQ(ExpandBody(host, "[%Loss%|%Outage%]", kFormats), "[n/a|n/a]") << "no history kept";
}

TEST(DurationText, HoursMinutesSecondsAndDays) {
  EXPECT_EQ(DurationText(0), "0:00:00");
  EXPECT_EQ(DurationText(59.6), "0:01:00");
  EXPECT_EQ(DurationText(86399), "23:59:59");
  EXPECT_EQ(DurationText(2 * 86400 + 3600), "2d 01:00:00");
  EXPECT_EQ(DurationText(-5), "0:00:00");
}

// Texts that multiply each other through the passes (a data file may hold
// texts of any length) stop at the limit instead of exhausting memory.
TEST_F(TemplateTest, MultiplyingTextsStopAtTheLimit) {
  std::string manyNames;
  for (int i = 0; i < 4000; ++i) manyNames += "%HostName%";
  host.HostIP.Set(manyNames);
  host.HostName.Set(std::string(40000, 'n'));
  std::string manyAddresses;
  for (int i = 0; i < 4000; ++i) manyAddresses += "%HostIP%";
  const std::string body = ExpandBody(host, "%Date% " + manyAddresses, kFormats);
  EXPECT_LE(body.size(), kMaxExpandedLength);
  EXPECT_TRUE(body.starts_with("05.12.2026 %HostName%%HostName%"));
  EXPECT_TRUE(body.ends_with("%HostIP%"));
  EXPECT_EQ(ExpandSubject(host, "%HostName%", kFormats), host.HostName.Get());
}

// Every action of both sides on; the desktop and the channels write into one
// record so that their order shows.
class DispatchTest : public ::testing::Test {
 protected:
  class OrderRecorder final : public Desktop, public AlarmChannels {
   public:
    std::vector<std::string> calls;
    MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                              MessageButtons) override {
      calls.push_back("box:" + caption + ":" + text + (icon == MessageIcon::Error ? ":error" : ""));
      return MessageResult::Ok;
    }
    // An alarm's box is an alert: no owner, on top, seen while the window hides.
    void ShowAlert(const std::string& text, const std::string& caption, MessageIcon icon) override {
      calls.push_back("alert:" + caption + ":" + text + (icon == MessageIcon::Error ? ":error" : ""));
    }
    void PlaySound(const std::string& file, bool loop) override {
      calls.push_back((loop ? "loop:" : "sound:") + file);
    }
    void StopSounds() override {}
    void Beep() override {}
    void StartProgram(const std::string& program, const std::string& params) override {
      calls.push_back("run:" + program + " " + params);
    }
    void ShowHelp(int, int) override {}
    bool SendNetMessage(const std::string& to, const std::string& body, const std::string& subject) override {
      calls.push_back("net:" + to + "|" + subject + "|" + body);
      return true;
    }
    bool SendMail(const std::string& to, const std::string& body, const std::string& subject) override {
      calls.push_back("mail:" + to + "|" + subject + "|" + body);
      leaving = leaveDuringMail;
      return false;
    }
    // With holdMail the transfer reports back only when the test says so.
    void StartMail(const std::string& to, const std::string& body, const std::string& subject,
                   std::function<void(bool)> done) override {
      if (!holdMail) return AlarmChannels::StartMail(to, body, subject, std::move(done));
      calls.push_back("mail started");
      heldMail = std::move(done);
    }
    bool NotifyTargets(const std::vector<std::string>& names, const TargetEvent& event) override {
      std::string line = "targets:" + event.event;
      for (const std::string& name : names) line += "|" + name;
      calls.push_back(line);
      return true;
    }
    bool Leaving() const override { return leaving; }
    bool leaveDuringMail = false;
    bool leaving = false;
    bool holdMail = false;
    std::function<void(bool)> heldMail;
  };

  DispatchTest() {
    host.HostName.Set("web1");
    host.StatusStr.Set(kStatus);
    log.SetPane(&pane);
    for (AlarmSet* set : {&host.OnRenewal, &host.OnLoss}) {
      set->Alarm = true;
      set->PlayWAV = true;
      set->WAVFile.Set("/snd/a.wav");
      set->SendLan = true;
      set->LanName.Set("PC7");
      set->SendEmail = true;
      set->EmailAddress.Set("ops@example.org");
      set->RunPrg = true;
      set->ProgramName.Set("/bin/prog");
      set->Params.Set("-x");
      set->ShowBox = true;
      set->Subject.Set("%HostName% lost");
      set->Targets.Set("ops, pager");
    }
  }

  void Dispatch(AlarmDirection direction) {
    RunAlarm(PrepareAlarm(host, direction, options, kFormats), log, recorder, recorder);
  }

  HostEntry host;
  ROptions options;
  EventLog log;
  testing::RecordingPane pane;
  OrderRecorder recorder;
};

TEST_F(DispatchTest, RunsEveryActionInItsOrderWithTheBoxLast) {
  Dispatch(AlarmDirection::Loss);
  const std::vector<std::string> expected{
      "sound:/snd/a.wav",
      std::string("net:PC7|web1 lost|") + kStatus,
      std::string("mail:ops@example.org|web1 lost|") + kStatus,
      "targets:loss|ops|pager",
      "run:/bin/prog -x",
      std::string("alert:web1 lost:") + kStatus + ":error",
  };
  EXPECT_EQ(recorder.calls, expected);
}

// The alarm goes on where its transfer left it, once the transfer reports
// back; until then nothing of it waits on the caller.
TEST_F(DispatchTest, ProgramAndBoxFollowTheMailWhenItsTransferHasEnded) {
  recorder.holdMail = true;
  bool finished = false;
  RunAlarm(PrepareAlarm(host, AlarmDirection::Loss, options, kFormats), log, recorder, recorder,
           nullptr, [&] { finished = true; });
  ASSERT_EQ(recorder.calls.size(), 3u);
  EXPECT_EQ(recorder.calls.back(), "mail started");
  EXPECT_FALSE(finished);
  ASSERT_TRUE(recorder.heldMail);
  recorder.heldMail(true);
  ASSERT_EQ(recorder.calls.size(), 6u);
  EXPECT_EQ(recorder.calls[3], "targets:loss|ops|pager");
  EXPECT_EQ(recorder.calls[4], "run:/bin/prog -x");
  EXPECT_EQ(recorder.calls[5].rfind("alert:", 0), 0u);
  EXPECT_TRUE(finished);
}

// The targets' messages still go to the outbox, which keeps them for the
// next start.
TEST_F(DispatchTest, LeavingTheProgramDuringTheMailDropsProgramAndBox) {
  recorder.leaveDuringMail = true;
  Dispatch(AlarmDirection::Loss);
  ASSERT_EQ(recorder.calls.size(), 4u);
  EXPECT_EQ(recorder.calls[2].rfind("mail:", 0), 0u);
  EXPECT_EQ(recorder.calls[3], "targets:loss|ops|pager");
}

TEST_F(DispatchTest, EveryActionIsCountedWithTheOutcomeItsChannelReports) {
  ActivityCounters counters;
  RunAlarm(PrepareAlarm(host, AlarmDirection::Loss, options, kFormats), log, recorder, recorder,
           &counters);
  // The recorder hands the messenger text on and fails the mail.
  using enum AlarmAction;
  EXPECT_EQ(counters.AlarmActions(AlarmDirection::Loss, Messenger, ActionResult::Ok), 1u);
  EXPECT_EQ(counters.AlarmActions(AlarmDirection::Loss, Mail, ActionResult::Failed), 1u);
  EXPECT_EQ(counters.AlarmActions(AlarmDirection::Loss, Mail, ActionResult::Ok), 0u);
  for (AlarmAction action : {Sound, Program, MessageBox}) {
    EXPECT_EQ(counters.AlarmActions(AlarmDirection::Loss, action, ActionResult::Done), 1u);
    EXPECT_EQ(counters.AlarmActions(AlarmDirection::Renewal, action, ActionResult::Done), 0u);
  }
}

TEST_F(DispatchTest, SoundLoopsWithMultPlayAndNeedsAFile) {
  options.MultPlayWAV = true;
  Dispatch(AlarmDirection::Renewal);
  EXPECT_EQ(recorder.calls.front(), "loop:/snd/a.wav");
  recorder.calls.clear();
  host.OnRenewal.WAVFile.Set("");
  Dispatch(AlarmDirection::Renewal);
  EXPECT_EQ(recorder.calls.front().rfind("net:", 0), 0u);
}

TEST_F(DispatchTest, AlarmOffRunsNothingButStillLogsAPendingTrace) {
  host.OnLoss.Alarm = false;
  host.TraceText.Set("=== Trace web1 ===\r\n");
  Dispatch(AlarmDirection::Loss);
  EXPECT_TRUE(recorder.calls.empty());
  EXPECT_EQ(pane.Texts(), std::vector<std::string>{"=== Trace web1 ===\r\n"});
  EXPECT_TRUE(host.TraceText.Empty());
}

TEST_F(DispatchTest, PendingTraceStaysWhileTheLogIsOff) {
  options.LogDetail = 0;
  host.TraceText.Set("=== Trace web1 ===\r\n");
  Dispatch(AlarmDirection::Loss);
  EXPECT_TRUE(pane.Texts().empty());
  EXPECT_FALSE(host.TraceText.Empty());
  options.LogDetail = 2;
  Dispatch(AlarmDirection::Renewal);
  EXPECT_EQ(pane.Count(), 1u);
}

TEST(HopLineText, ShowsTheNameOnlyWhenItIsNotTheAddress) {
  EXPECT_EQ(HopLine(3, 12, "gw.example.org", "198.18.0.1"), "3. 12ms gw.example.org [198.18.0.1]\r\n");
  EXPECT_EQ(HopLine(1, 0, "198.18.0.1", "198.18.0.1"), "1. 0ms 198.18.0.1\r\n");
}

// Traces against the fake library: a router answers at TTL 1, the target at
// TTL 2. Both are 127.0.0.1, whose reverse lookup stays on this machine.
class TraceTest : public ::testing::Test {
 protected:
  TraceTest() {
    fake->Queue({IcmpEchoReply{kRouter, kIpTtlExpiredTransit, 3}, {}});
    fake->Queue({IcmpEchoReply{kTarget, kIpSuccess, 4}, {}});
    host.HostIP.Set("127.0.0.1");
    host.TraceTTL = 30;
    host.TraceBufferSize = 40;
    host.TraceTimeOut = 700;
    icmp.mode = IcmpMode::Library;
    icmp.library = fake;
  }
  std::string Expected(const std::string& target) const {
    const std::string name = AddressToName(IpAddress::V4(kTarget));
    return TraceHeader(target) + HopLine(1, 3, name, "127.0.0.1") + HopLine(2, 4, name, "127.0.0.1");
  }

  static constexpr uint32_t kRouter = 0x0100007F;
  static constexpr uint32_t kTarget = 0x0100007F;
  std::shared_ptr<testing::ScriptedEchoLibrary> fake = std::make_shared<testing::ScriptedEchoLibrary>();
  IcmpContext icmp;
  HostEntry host;
};

TEST_F(TraceTest, TraceNowTextHasTheHeaderAndOneLinePerHop) {
  std::vector<std::string> seen;
  const std::string text =
      TraceNowText(TraceSettingsOf(host), "127.0.0.1", icmp, [&](const std::string& line) { seen.push_back(line); });
  EXPECT_EQ(text, Expected("127.0.0.1"));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], "=== Trace 127.0.0.1 ===\r\n");
  const auto requests = fake->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].dataSize, 40u);
  EXPECT_EQ(requests[0].timeoutMs, 700);
  EXPECT_EQ(requests[1].options.Ttl, 2);
}

TEST_F(TraceTest, AlarmTraceKeepsItsHopsInTraceTextAndTracesTheAddressOfANamelessHost) {
  AlarmTrace(host, icmp);
  EXPECT_EQ(host.TraceText.Get(), Expected("127.0.0.1"));
  ASSERT_FALSE(fake->Requests().empty());
  EXPECT_EQ(fake->Requests()[0].address, kTarget);
}

// A silent path: the router at TTL 1 answers, nothing beyond it does.
TEST_F(TraceTest, AlarmTraceEndsAfterThreeSilentHopsAndSaysSo) {
  fake = std::make_shared<testing::ScriptedEchoLibrary>();
  icmp.library = fake;
  fake->SetRule([](uint32_t, const IcmpEchoOptions&) { return testing::ScriptedEchoLibrary::Answer{}; });
  fake->Queue({IcmpEchoReply{kRouter, kIpTtlExpiredTransit, 3}, {}});
  EXPECT_EQ(AlarmTrace(host, icmp), AlarmTraceEnd::Silent);
  EXPECT_TRUE(host.TraceText.Get().ends_with(kTraceSilentLine));
  EXPECT_EQ(fake->Requests().size(), 1u + kAlarmTraceSilentHops) << "TTL 1 answered, then 3 silent";
}

// Requests that would each wait out a long time-out: the budget cuts the
// one in flight, and the text says the trace was cut short.
TEST_F(TraceTest, AlarmTraceEndsWhenItsTimeIsUp) {
  using namespace std::chrono_literals;
  fake = std::make_shared<testing::ScriptedEchoLibrary>();
  icmp.library = fake;
  fake->SetRule([](uint32_t address, const IcmpEchoOptions&) {
    return testing::ScriptedEchoLibrary::Answer{IcmpEchoReply{address, kIpTtlExpiredTransit, 1}, 20s};
  });
  host.TraceTimeOut = 60'000;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(AlarmTrace(host, icmp, 150ms), AlarmTraceEnd::CutShort);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(host.TraceText.Get().ends_with(kTraceCutLine));
}

}  // namespace
}  // namespace sentrel
