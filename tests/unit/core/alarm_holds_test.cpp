#include "core/alarm_holds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

#include "core/data_file.h"
#include "core/echo_result.h"
#include "core/host_parents.h"
#include "core/host_states.h"
#include "engine_test_env.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;
using testing::EngineEnv;

// A router with two hosts behind it, each raising boxes captioned
// "<name> down" and "<name> up"; the immediate checks answer as `answers`
// says and are counted.
class AlarmHoldsTest : public ::testing::Test {
 protected:
  AlarmHoldsTest() : services(env.Services()) {
    for (auto [ip, name] : {std::pair{"198.18.1.1", "router"}, {"198.18.2.2", "a"},
                            {"198.18.2.3", "b"}}) {
      auto host = list.CreateHost();
      host->HostIP.Set(ip);
      host->HostName.Set(name);
      host->Enabled = true;
      host->WasChecked = true;
      for (auto [set, word] : {std::pair{&host->OnRenewal, " up"}, {&host->OnLoss, " down"}}) {
        set->Alarm = true;
        set->ShowBox = true;
        set->Subject.Set(std::string("%HostName%") + word);
      }
      if (std::string(name) != "router") host->Parent.Set("198.18.1.1");
      list.AppendHost(std::move(host));
    }
    services.holds = &holds;
  }

  HostEntry& Host(std::size_t row) { return list.Host(row); }

  // Runs `work` on a thread of its own, as a host worker does, while this
  // (the window) thread serves its hand-offs.
  void OnWorker(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      work();
      done = true;
      env.ui.Post([] {});
    });
    env.ui.RunFor(10s, [&] { return done.load(); });
    worker.join();
    env.ui.RunPending();
  }
  // One check of one request, as the worker runs it.
  void Result(HostEntry& host, bool reply) {
    OnWorker([&] {
      OnEchoResult(host, services, reply ? 0 : kIpRequestTimedOut,
                   IpAddress::V4(0x0100A8C0), reply ? 3 : 0, host.HostName.Get());
      host.FailCount = 0;
    });
  }
  std::size_t Boxes(const std::string& caption) const { return env.BoxesCaptioned(caption).size(); }
  std::size_t LogLines(const std::string& part) const {
    const auto texts = env.pane.Texts();
    return static_cast<std::size_t>(std::count_if(texts.begin(), texts.end(), [&](const auto& t) {
      return t.find(part) != std::string::npos;
    }));
  }

  EngineEnv env;
  MonitorServices services;
  HostList list{env.clock};
  std::mutex mutex;
  std::map<std::string, bool> answers;
  std::map<std::string, int> checks;
  std::vector<std::string> checkedAtOnce;
  AlarmHolds holds{
      list, services,
      [this](const EchoTarget& target, std::stop_token) {
        std::lock_guard lock(mutex);
        ++checks[target.text];
        return answers[target.text];
      },
      [this](const std::function<bool(const HostEntry&)>& which) {
        for (std::size_t row = 0; row < list.Count(); ++row) {
          if (which(list.Host(row))) checkedAtOnce.push_back(list.Host(row).HostName.Get());
        }
      },
      0ms};
};

TEST_F(AlarmHoldsTest, ParentDownHoldsTheLossAndRenewalAlarmsBehindItUntilItAnswers) {
  answers["198.18.1.1"] = false;
  Result(Host(1), false);
  EXPECT_EQ(Boxes("a down"), 0u);
  EXPECT_EQ(checks["198.18.1.1"], 1);
  EXPECT_EQ(Host(1).LossHeldBy.Get(), "router");
  EXPECT_EQ(LogLines(") loss alarm held: router is down\r\n"), 1u);
  const RowView view = ViewOfRow(Host(1), true);
  EXPECT_EQ(view.image, kUnreachableImage);
  EXPECT_EQ(view.avgTime, "Unreachable");
  EXPECT_EQ(HostStateWord(Host(1)), "Unreachable");

  // Still down, still held: the parent is asked again, the log not told again.
  Result(Host(1), false);
  Result(Host(2), false);
  EXPECT_EQ(checks["198.18.1.1"], 3);
  EXPECT_EQ(LogLines("loss alarm held"), 2u);
  EXPECT_EQ(Boxes("a down") + Boxes("b down"), 0u);

  // b comes back while held: no renewal alarm for a loss alarm never sent.
  Result(Host(2), true);
  EXPECT_EQ(Boxes("b up"), 0u);
  EXPECT_TRUE(Host(2).LossHeldBy.Empty());
  EXPECT_EQ(HostStateWord(Host(2)), "up");

  // The router answers: what it held is checked at once, and a still
  // silent a raises its own loss alarm, once.
  answers["198.18.1.1"] = true;
  Result(Host(0), true);
  EXPECT_EQ(checkedAtOnce, std::vector<std::string>{"a"});
  Result(Host(1), false);
  Result(Host(1), false);
  EXPECT_EQ(Boxes("a down"), 1u);
  EXPECT_TRUE(Host(1).LossHeldBy.Empty());
  EXPECT_EQ(ViewOfRow(Host(1), true).avgTime, "Lost");
  // Its renewal then answers that alarm as always.
  Result(Host(1), true);
  EXPECT_EQ(Boxes("a up"), 1u);
}

TEST_F(AlarmHoldsTest, ParentChainIsCheckedNearestFirstAndTheTopmostSilentOneIsBlamed) {
  Host(2).Parent.Set("a");  // router <- a <- b
  answers = {{"198.18.1.1", false}, {"198.18.2.2", false}};
  Result(Host(2), false);
  EXPECT_EQ(Host(2).LossHeldBy.Get(), "router");
  EXPECT_EQ(checks["198.18.2.2"], 1);
  EXPECT_EQ(checks["198.18.1.1"], 1);

  // The nearest parent answers: b itself is down, nothing further is asked.
  answers["198.18.2.2"] = true;
  Result(Host(2), false);
  EXPECT_EQ(checks["198.18.1.1"], 1);
  EXPECT_EQ(Boxes("b down"), 1u);
}

TEST_F(AlarmHoldsTest, UplinkDownHoldsEveryLossAlarmWithOneLineAndOneAlarmOfItsOwn) {
  env.options.StatAddress = "ops@example.org";
  env.options.SendVia = 1;
  env.options.StatusTargets = "pager";
  holds.SetUplinkHosts(" 198.18.9.1, gw.example ,");
  answers["198.18.1.1"] = true;
  Result(Host(0), false);
  Result(Host(1), false);
  EXPECT_EQ(Boxes("router down") + Boxes("a down"), 0u);
  EXPECT_EQ(Host(0).LossHeldBy.Get(), kUplinkHold);
  EXPECT_EQ(checks["198.18.9.1"], 2);
  EXPECT_EQ(checks["gw.example"], 2);
  EXPECT_EQ(LogLines(kUplinkDownText), 1u);
  const auto sent = env.channels.Calls();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].rfind("mail:ops@example.org|Sentrel Uplink|", 0), 0u);
  EXPECT_EQ(sent[1], "targets:loss|pager|Sentrel Uplink");

  // One uplink host answers again: the held hosts are checked at once.
  answers["gw.example"] = true;
  Result(Host(2), true);
  EXPECT_EQ(LogLines(kUplinkBackText), 1u);
  EXPECT_EQ(checkedAtOnce, (std::vector<std::string>{"router", "a"}));
  EXPECT_EQ(env.channels.Calls().size(), 2u);
}

TEST(HostParents, LoopsAreRefusedAndPARIsWrittenOnlyWhenSet) {
  testing::FakeClock clock{EncodeDateTime({2026, 12, 7, 10, 0, 0, 0})};
  HostList list(clock);
  for (const char* ip : {"10.0.0.1", "10.0.0.2", "10.0.0.3"}) {
    auto host = list.CreateHost();
    host->HostIP.Set(ip);
    list.AppendHost(std::move(host));
  }
  list.Host(1).Parent.Set("10.0.0.1");
  list.Host(2).Parent.Set("10.0.0.2");
  list.Host(0).HostName.Set("Core");
  const auto hosts = list.Snapshot();
  EXPECT_EQ(FindHost(*hosts, "core"), &list.Host(0));
  EXPECT_EQ(ParentChain(*hosts, list.Host(2)),
            (std::vector<const HostEntry*>{&list.Host(1), &list.Host(0)}));
  EXPECT_EQ(ParentLoopError(*hosts, list.Host(0), "10.0.0.3"),
            "Core cannot be reached through 10.0.0.3: 10.0.0.3 is reached through Core already, "
            "which would make a loop");
  EXPECT_EQ(ParentLoopError(*hosts, list.Host(0), "Core"), "Core cannot be reached through itself");
  EXPECT_EQ(ParentLoopError(*hosts, list.Host(2), "10.0.0.1"), "");
  EXPECT_EQ(ParentLoopError(*hosts, list.Host(0), "10.9.9.9"), "");
  // A loop written by hand into the file ends the chain instead of hanging.
  list.Host(0).Parent.Set("10.0.0.3");
  EXPECT_EQ(ParentChain(*hosts, list.Host(2)).size(), 2u);

  EXPECT_NE(FormatHostBlock(list.Host(0)).find("\r\n<PAR>10.0.0.3</PAR>\r\n"), std::string::npos);
  HostEntry read;
  ParseHostBlock(FormatHostBlock(list.Host(1)), read);
  EXPECT_EQ(read.Parent.Get(), "10.0.0.1");
  HostEntry plain;
  EXPECT_EQ(FormatHostBlock(plain).find("PAR"), std::string::npos);
}

TEST(HostParents, DownParentOfAsksEachParentOnceUpToTheFirstThatAnswers) {
  HostEntry near, middle, top;
  const std::vector<const HostEntry*> chain{&near, &middle, &top};
  std::vector<const HostEntry*> asked;
  const auto answering = [&](const HostEntry* up) {
    return [&asked, up](const HostEntry& host) {
      asked.push_back(&host);
      return &host == up;
    };
  };
  EXPECT_EQ(DownParentOf(chain, answering(&near)), nullptr);
  EXPECT_EQ(asked.size(), 1u);
  asked.clear();
  EXPECT_EQ(DownParentOf(chain, answering(&top)), &middle);
  EXPECT_EQ(asked.size(), 3u);
  asked.clear();
  EXPECT_EQ(DownParentOf(chain, answering(nullptr)), &top);
  EXPECT_EQ(DownParentOf({}, answering(nullptr)), nullptr);
  EXPECT_EQ(ParseUplinkHosts(" a, ,b ,"), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace sentrel
