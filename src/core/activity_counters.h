#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace sentrel {

enum class AlarmDirection { Renewal, Loss };

// The actions of an alarm in the order they run.
enum class AlarmAction { Sound, Messenger, Mail, Program, MessageBox };
inline constexpr std::size_t kAlarmActions = 5;

// How an action ended. Mail and messenger say whether the text was handed
// on; the desktop's actions report nothing back, so they are only Done.
enum class ActionResult { Ok, Failed, Done };
inline constexpr std::size_t kActionResults = 3;

// Counts of what the program did since it started, for the metrics
// endpoint. Written on the window thread (alarms, mail), read from any
// thread; every count is a relaxed atomic, so readers never wait.
class ActivityCounters {
 public:
  void CountAlarmAction(AlarmDirection direction, AlarmAction action, ActionResult result) {
    Cell(direction, action, result).fetch_add(1, std::memory_order_relaxed);
  }
  void CountMailTransfer(bool accepted) {
    (accepted ? mailOk_ : mailFailed_).fetch_add(1, std::memory_order_relaxed);
  }

  uint64_t AlarmActions(AlarmDirection direction, AlarmAction action, ActionResult result) const {
    return Cell(direction, action, result).load(std::memory_order_relaxed);
  }
  uint64_t MailTransfers(bool accepted) const {
    return (accepted ? mailOk_ : mailFailed_).load(std::memory_order_relaxed);
  }

 private:
  using Row = std::array<std::atomic<uint64_t>, kActionResults>;
  std::atomic<uint64_t>& Cell(AlarmDirection d, AlarmAction a, ActionResult r) {
    return alarms_[static_cast<std::size_t>(d)][static_cast<std::size_t>(a)][static_cast<std::size_t>(r)];
  }
  const std::atomic<uint64_t>& Cell(AlarmDirection d, AlarmAction a, ActionResult r) const {
    return alarms_[static_cast<std::size_t>(d)][static_cast<std::size_t>(a)][static_cast<std::size_t>(r)];
  }

  std::array<std::array<Row, kAlarmActions>, 2> alarms_{};
  std::atomic<uint64_t> mailOk_{0};
  std::atomic<uint64_t> mailFailed_{0};
};

}  // namespace sentrel
