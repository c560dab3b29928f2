#include "notify/outbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "fakes/test_files.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

DeliveryOutcome Outcome(DeliveryResult result, std::string reason = {}) {
  DeliveryOutcome outcome;
  outcome.result = result;
  outcome.reason = std::move(reason);
  return outcome;
}

OutboxMessage ToTarget(const std::string& target, const std::string& text) {
  OutboxMessage message;
  message.target = target;
  message.kind = "webhook";
  message.event.event = "loss";
  message.event.text = text;
  return message;
}

// A deliverer that answers each target from a script and records the order.
struct Script {
  std::mutex mutex;
  std::vector<std::string> sent;  // "target:text"
  std::function<DeliveryOutcome(const OutboxMessage&, std::stop_token)> answer =
      [](const OutboxMessage&, std::stop_token) { return Outcome(DeliveryResult::Delivered); };
  std::vector<std::string> log;

  Outbox::Settings Settings(const std::string& folder) {
    Outbox::Settings settings;
    settings.folder = folder;
    settings.backoff = {20ms};
    settings.deliver = [this](const OutboxMessage& m, std::stop_token stop) {
      {
        std::lock_guard lock(mutex);
        sent.push_back(m.target + ":" + m.event.text);
      }
      return answer(m, stop);
    };
    settings.log = [this](const std::string& line) {
      std::lock_guard lock(mutex);
      log.push_back(line);
    };
    return settings;
  }
};

bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
  return done();
}

TEST(OutboxTest, KeepsOrderPerTargetWhileAnotherTargetNeverAnswers) {
  TempDir dir;
  Script script;
  std::atomic<int> firstTries{0};
  script.answer = [&](const OutboxMessage& m, std::stop_token stop) -> DeliveryOutcome {
    if (m.target == "silent") {
      // Accepts and never answers, until the program leaves.
      while (!stop.stop_requested()) std::this_thread::sleep_for(5ms);
      return Outcome(DeliveryResult::Aborted);
    }
    // The first message fails twice: the ones after it must wait for it.
    if (m.event.text == "1" && firstTries++ < 2) return Outcome(DeliveryResult::Retry, "HTTP 503");
    return Outcome(DeliveryResult::Delivered);
  };
  Outbox outbox(script.Settings(dir.Path()));
  outbox.Start();
  outbox.Post(ToTarget("silent", "s"));
  for (const char* text : {"1", "2", "3"}) outbox.Post(ToTarget("ops", text));
  ASSERT_TRUE(WaitUntil([&] { return outbox.Pending() == 1; }));
  outbox.Stop();
  std::vector<std::string> ops;
  for (const auto& s : script.sent) {
    if (s.rfind("ops:", 0) == 0) ops.push_back(s);
  }
  EXPECT_EQ(ops, (std::vector<std::string>{"ops:1", "ops:1", "ops:1", "ops:2", "ops:3"}));
  const auto counts = outbox.CountsSnapshot();
  EXPECT_EQ((counts.at({"webhook", "delivered"})), 3u);
  EXPECT_EQ((counts.at({"webhook", "retry"})), 2u);
  // The silent target's message was aborted, not lost: the next start has it.
  Script later;
  Outbox next(later.Settings(dir.Path()));
  EXPECT_EQ(next.Start(), 1u);
  ASSERT_TRUE(WaitUntil([&] { return next.Pending() == 0; }));
  EXPECT_EQ(later.sent, (std::vector<std::string>{"silent:s"}));
}

TEST(OutboxTest, GivesUpPermanentFailuresAndExpiredMessagesWithTheReason) {
  TempDir dir;
  Script script;
  script.answer = [](const OutboxMessage& m, std::stop_token) -> DeliveryOutcome {
    if (m.target == "gone") return Outcome(DeliveryResult::GiveUp, "HTTP 404 no such hook");
    return Outcome(DeliveryResult::Retry, "could not connect");
  };
  Outbox::Settings settings = script.Settings(dir.Path());
  settings.lifetime = 150ms;
  std::vector<std::string> finished;
  settings.finished = [&](const OutboxMessage& m, const DeliveryOutcome& outcome) {
    std::lock_guard lock(script.mutex);
    finished.push_back(m.target + (outcome.result == DeliveryResult::GiveUp ? " given up" : ""));
  };
  Outbox outbox(std::move(settings));
  outbox.Start();
  outbox.Post(ToTarget("gone", "x"));
  outbox.Post(ToTarget("down", "y"));
  ASSERT_TRUE(WaitUntil([&] { return outbox.Pending() == 0; }));
  outbox.Stop();
  std::lock_guard lock(script.mutex);
  EXPECT_EQ(std::count(script.sent.begin(), script.sent.end(), "gone:x"), 1);
  EXPECT_GT(std::count(script.sent.begin(), script.sent.end(), "down:y"), 1);
  ASSERT_EQ(script.log.size(), 2u);
  std::sort(script.log.begin(), script.log.end());  // two lanes: either may end first
  EXPECT_NE(script.log[0].find("Notification to down given up: could not connect (still failing"),
            std::string::npos);
  EXPECT_EQ(script.log[1], "Notification to gone given up: HTTP 404 no such hook\r\n");
  EXPECT_EQ(finished.size(), 2u);
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(OutboxTest, FilesRoundTripAnyBytesAndDamagedOnesAreSetAside) {
  OutboxMessage mail;
  mail.id = "00000000000000001-0000";
  mail.mail = true;
  mail.kind = "mail";
  mail.to = "a@b.test; c@d.test";
  mail.subject = "100% down\r\nBcc: x";
  mail.body = std::string("line\r\n%41=\x01\xff", 12);
  EXPECT_EQ(ParseOutboxMessage(SerializeOutboxMessage(mail)), mail);
  OutboxMessage target = ToTarget("ops", "Down:\n\"quoted\"");
  target.id = "00000000000000002-0001";
  target.event.placeholders = {{"%HostName%", "web=1"}};
  EXPECT_EQ(ParseOutboxMessage(SerializeOutboxMessage(target)), target);
  const std::string text = SerializeOutboxMessage(target);
  EXPECT_FALSE(ParseOutboxMessage(text.substr(0, text.size() - 1)));  // cut short

  TempDir dir;
  testing::PutFile(std::filesystem::path(dir.Path()) / "00000000000000003-0000.msg", "garbage");
  Script script;
  Outbox outbox(script.Settings(dir.Path()));
  EXPECT_EQ(outbox.Start(), 0u);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir.Path()) /
                                      "00000000000000003-0000.msg.bad"));
  ASSERT_EQ(script.log.size(), 1u);
}

}  // namespace
}  // namespace sentrel
