#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "notify/target_message.h"

namespace sentrel {

// The outbox's folder in the data folder.
inline constexpr const char* kOutboxFolder = "outbox";

// One message waiting in the outbox: a target notification or a mail.
struct OutboxMessage {
  std::string id;       // the file name without ".msg"; given by Post
  bool mail = false;    // a mail through the options' SMTP server, else a target's message
  std::string target;   // the target's name (target messages)
  std::string kind;     // the target's kind when posted, "mail" for a mail
  long long created = 0;  // Unix milliseconds
  long long next = 0;     // Unix milliseconds of the next attempt
  int attempts = 0;
  TargetEvent event;      // target messages
  std::string to;         // mail: recipients, body, subject as SendMail takes them
  std::string body;
  std::string subject;

  friend bool operator==(const OutboxMessage&, const OutboxMessage&) = default;
};

// The file text of a message ("key=value" lines, values with %, CR, LF and
// other control characters escaped as %XX), and back. Nothing when the text
// is not such a file.
std::string SerializeOutboxMessage(const OutboxMessage& message);
std::optional<OutboxMessage> ParseOutboxMessage(std::string_view text);

// Every mail and target notification goes through here: it is written to a
// file of its own in the outbox folder (atomically) before its first
// attempt, and the file is removed once the message is delivered or given
// up, so a message survives an exit, a crash or a kill -9 and is sent after
// the next start, and a message delivered is never sent again.
//
// Messages of one lane (one target, or the mail) go out in the order they
// were posted, each lane on a thread of its own, so a target that never
// answers holds back only its own messages. A failure worth another try is
// retried after growing waits (or the receiver's Retry-After) until the
// message is older than the lifetime; a permanent failure is given up at
// once. Every give-up is logged with its reason.
class Outbox {
 public:
  // Delivers one message, blocking its lane's thread; ends soon after
  // `stop` is requested (with Aborted, which is no attempt).
  using Deliver = std::function<DeliveryOutcome(const OutboxMessage&, std::stop_token stop)>;
  // A log line (ending in CR LF), from a lane's thread or the poster's, at
  // times under the outbox's lock: it must not call the outbox.
  using Log = std::function<void(const std::string& line)>;
  // A message has left the outbox, delivered or given up; from a lane's thread.
  using Finished = std::function<void(const OutboxMessage&, const DeliveryOutcome&)>;

  struct Settings {
    std::string folder;
    Deliver deliver;
    Log log;
    Finished finished;
    // Waits after the first, second, ... failed attempt; the last one repeats.
    std::vector<std::chrono::milliseconds> backoff{
        std::chrono::seconds(10), std::chrono::seconds(30), std::chrono::minutes(1),
        std::chrono::minutes(2),  std::chrono::minutes(5),  std::chrono::minutes(10)};
    std::chrono::milliseconds lifetime = std::chrono::hours(24);
    // A Retry-After beyond this is taken as this.
    std::chrono::milliseconds longestRetryAfter = std::chrono::hours(1);
  };

  // Counts of finished attempts by kind ("webhook", ..., "mail") and result
  // ("delivered", "retry", "given_up").
  using Counts = std::map<std::pair<std::string, std::string>, uint64_t>;

  explicit Outbox(Settings settings);
  // Stop.
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Queues the messages left in the folder by an earlier run, in their
  // order (the folder itself is made with the first message posted). Returns how many; files that are not
  // messages are left alone, damaged message files are logged and set aside
  // as ".bad".
  std::size_t Start();

  // Writes `message` to its file and queues it. A message whose file cannot
  // be written is queued all the same (and the failure logged), so the
  // alarm still goes out while the program runs. Returns its id. `held`: the
  // caller makes the first attempt itself and reports it with Settle; the
  // lane waits for that before it sends anything after it.
  std::string Post(OutboxMessage message, bool held = false);
  // The outcome of a held message's first attempt: delivered or given up
  // removes it, a retry hands it to its lane.
  void Settle(const std::string& id, const DeliveryOutcome& outcome);

  // Messages not yet delivered or given up. Any thread.
  std::size_t Pending() const;
  Counts CountsSnapshot() const;
  const std::string& Folder() const { return settings_.folder; }

  // Ends every lane: a delivery in progress is aborted (its message stays for
  // the next start). Idempotent.
  void Stop();

 private:
  struct Entry {
    OutboxMessage message;
    bool held = false;
    bool onDisk = false;
  };
  struct Lane {
    std::vector<Entry> queue;  // in posting order
    std::jthread thread;
  };

  static std::string LaneOf(const OutboxMessage& message);
  std::string PathOf(const std::string& id) const;
  // Callers hold mutex_.
  void Enqueue(Entry entry);
  bool Store(const OutboxMessage& message);
  void Count(const OutboxMessage& message, const char* result);
  // Applies an attempt's outcome to the entry `id` of `lane`; false when the
  // message left the outbox. Callers hold mutex_.
  void Apply(Lane& lane, const std::string& id, const DeliveryOutcome& outcome,
             std::unique_lock<std::mutex>& lock);
  void Run(Lane& lane, std::stop_token stop);
  long long Delay(int attempts, const DeliveryOutcome& outcome) const;
  std::string NewId();

  Settings settings_;
  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  std::map<std::string, std::unique_ptr<Lane>> lanes_;
  Counts counts_;
  long long lastStamp_ = 0;
  unsigned sequence_ = 0;
  bool stopped_ = false;
};

// Unix milliseconds now.
long long OutboxNow();

}  // namespace sentrel
