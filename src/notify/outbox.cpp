#include "notify/outbox.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/lenient_int.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"

namespace sentrel {

namespace {

constexpr std::string_view kMagic = "Sentrel outbox 1";
constexpr std::string_view kSuffix = ".msg";

std::string Escape(std::string_view value) {
  std::string out;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '%') {
      char buffer[4];
      std::snprintf(buffer, sizeof buffer, "%%%02X", byte);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      out += value[i];
      continue;
    }
    if (i + 2 >= value.size()) return std::nullopt;
    const auto hex = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      return -1;
    };
    const int high = hex(value[i + 1]);
    const int low = hex(value[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string WhereTo(const OutboxMessage& message) {
  return message.mail ? "Mail to " + message.to : "Notification to " + message.target;
}

}  // namespace

long long OutboxNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string SerializeOutboxMessage(const OutboxMessage& m) {
  std::string text = std::string(kMagic) + "\n";
  const auto put = [&text](std::string_view key, std::string_view value) {
    text += key;
    text += '=';
    text += Escape(value);
    text += '\n';
  };
  put("id", m.id);
  put("channel", m.mail ? "mail" : "target");
  put("target", m.target);
  put("kind", m.kind);
  put("created", std::to_string(m.created));
  put("next", std::to_string(m.next));
  put("attempts", std::to_string(m.attempts));
  if (m.mail) {
    put("to", m.to);
    put("subject", m.subject);
    put("body", m.body);
    return text;
  }
  const TargetEvent& e = m.event;
  put("event", e.event);
  put("address", e.address);
  put("name", e.name);
  put("description", e.description);
  put("status", e.status);
  put("code", std::to_string(e.code));
  put("time", e.time);
  put("subject", e.subject);
  put("text", e.text);
  put("record", e.recordAddress);
  for (const auto& [placeholder, value] : e.placeholders) put("placeholder", placeholder + "=" + value);
  return text;
}

std::optional<OutboxMessage> ParseOutboxMessage(std::string_view text) {
  if (text.substr(0, kMagic.size() + 1) != std::string(kMagic) + "\n") return std::nullopt;
  text.remove_prefix(kMagic.size() + 1);
  OutboxMessage m;
  bool haveChannel = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    // A file is written whole or not at all, so a line without its end is damage.
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    const auto value = Unescape(line.substr(equals + 1));
    if (!value) return std::nullopt;
    TargetEvent& e = m.event;
    if (key == "id") m.id = *value;
    else if (key == "channel") {
      m.mail = *value == "mail";
      haveChannel = true;
    } else if (key == "target") m.target = *value;
    else if (key == "kind") m.kind = *value;
    else if (key == "created") m.created = ParseLenientInt64(*value);
    else if (key == "next") m.next = ParseLenientInt64(*value);
    else if (key == "attempts") m.attempts = ParseLenientInt(*value);
    else if (key == "to") m.to = *value;
    else if (key == "subject") {
      m.subject = *value;
      e.subject = *value;
    } else if (key == "body") m.body = *value;
    else if (key == "event") e.event = *value;
    else if (key == "address") e.address = *value;
    else if (key == "name") e.name = *value;
    else if (key == "description") e.description = *value;
    else if (key == "status") e.status = *value;
    else if (key == "code") e.code = ParseLenientInt(*value);
    else if (key == "time") e.time = *value;
    else if (key == "text") e.text = *value;
    else if (key == "record") e.recordAddress = *value;
    else if (key == "placeholder") {
      const std::size_t split = value->find('=');
      if (split == std::string::npos) return std::nullopt;
      e.placeholders.emplace_back(value->substr(0, split), value->substr(split + 1));
    }
    // Unknown keys come from a later version; they are skipped.
  }
  if (!haveChannel || m.id.empty() || (!m.mail && m.target.empty())) return std::nullopt;
  if (m.mail) m.event.subject.clear();
  else m.subject.clear();
  return m;
}

Outbox::Outbox(Settings settings) : settings_(std::move(settings)) {}

Outbox::~Outbox() { Stop(); }

std::string Outbox::LaneOf(const OutboxMessage& message) {
  // Target names are compared without letter case, as the registry does.
  std::string lane = message.mail ? "mail" : "target:";
  if (!message.mail) {
    for (char c : message.target) lane += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  return lane;
}

std::string Outbox::PathOf(const std::string& id) const {
  return JoinPath(settings_.folder, id + std::string(kSuffix));
}

std::string Outbox::NewId() {
  // Microseconds of the wall clock, kept rising, then a counter: names sort
  // in posting order, also across restarts.
  const long long now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
  if (now > lastStamp_) {
    lastStamp_ = now;
    sequence_ = 0;
  } else {
    ++sequence_;
  }
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%017lld-%04u", lastStamp_, sequence_);
  return buffer;
}

bool Outbox::Store(const OutboxMessage& message) {
  std::string error;
  // Made with the first message, so that a program that sends nothing
  // leaves no folder behind.
  std::error_code made;
  std::filesystem::create_directories(settings_.folder, made);
  if (WriteFileAtomically(PathOf(message.id), SerializeOutboxMessage(message), "", &error, 0600)) {
    return true;
  }
  if (settings_.log) {
    settings_.log("Outbox: cannot write " + PathOf(message.id) + " (" + error +
                  "); the message is kept in memory only\r\n");
  }
  return false;
}

std::size_t Outbox::Start() {
  std::error_code error;
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(settings_.folder, error)) {
    const std::string name = item.path().filename().string();
    if (name.size() > kSuffix.size() && name.front() != '.' &&
        name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  std::size_t loaded = 0;
  std::vector<std::string> damaged;
  {
    std::lock_guard lock(mutex_);
    for (const std::string& name : names) {
      const std::string path = JoinPath(settings_.folder, name);
      std::stringstream bytes;
      {
        // Closed before a rename: Windows renames no open file.
        std::ifstream file(path, std::ios::binary);
        bytes << file.rdbuf();
      }
      auto message = ParseOutboxMessage(bytes.str());
      if (!message || message->id + std::string(kSuffix) != name) {
        std::filesystem::rename(path, path + ".bad", error);
        damaged.push_back(path);
        continue;
      }
      // An id of this run must sort after every one left.
      lastStamp_ = std::max<long long>(lastStamp_, ParseLenientInt64(message->id));
      Enqueue(Entry{std::move(*message), false, true});
      ++loaded;
    }
  }
  for (const std::string& path : damaged) {
    if (settings_.log) settings_.log("Outbox: damaged message set aside as " + path + ".bad\r\n");
  }
  return loaded;
}

std::string Outbox::Post(OutboxMessage message, bool held) {
  std::unique_lock lock(mutex_);
  message.id = NewId();
  message.created = OutboxNow();
  message.next = message.created;
  message.attempts = 0;
  const std::string id = message.id;
  // Written while the lock is held, so that no lane can send it before its
  // file exists.
  const bool onDisk = Store(message);
  Enqueue(Entry{std::move(message), held, onDisk});
  return id;
}

void Outbox::Enqueue(Entry entry) {
  const std::string key = LaneOf(entry.message);
  auto& lane = lanes_[key];
  if (!lane) lane = std::make_unique<Lane>();
  lane->queue.push_back(std::move(entry));
  if (!lane->thread.joinable() && !stopped_) {
    Lane* raw = lane.get();
    lane->thread = std::jthread([this, raw](std::stop_token stop) { Run(*raw, stop); });
  }
  changed_.notify_all();
}

void Outbox::Settle(const std::string& id, const DeliveryOutcome& outcome) {
  std::unique_lock lock(mutex_);
  for (auto& [key, lane] : lanes_) {
    for (Entry& entry : lane->queue) {
      if (entry.message.id != id) continue;
      entry.held = false;
      if (outcome.result == DeliveryResult::Aborted) {
        // Leaving cut the first attempt short: the next start sends it.
        changed_.notify_all();
        return;
      }
      Apply(*lane, id, outcome, lock);
      return;
    }
  }
}

void Outbox::Count(const OutboxMessage& message, const char* result) {
  ++counts_[{message.kind, result}];
}

long long Outbox::Delay(int attempts, const DeliveryOutcome& outcome) const {
  if (outcome.retryAfter) {
    const auto asked = std::chrono::duration_cast<std::chrono::milliseconds>(*outcome.retryAfter);
    return std::clamp(asked, std::chrono::milliseconds(1000), settings_.longestRetryAfter).count();
  }
  if (settings_.backoff.empty()) return 10000;
  const std::size_t step = std::min<std::size_t>(std::max(attempts, 1) - 1, settings_.backoff.size() - 1);
  return settings_.backoff[step].count();
}

void Outbox::Apply(Lane& lane, const std::string& id, const DeliveryOutcome& outcome,
                   std::unique_lock<std::mutex>& lock) {
  auto found = std::find_if(lane.queue.begin(), lane.queue.end(),
                            [&](const Entry& entry) { return entry.message.id == id; });
  if (found == lane.queue.end()) return;
  std::error_code error;
  if (outcome.result == DeliveryResult::Delivered) {
    // First of all: once the receiver has it, a kill must not make it go again.
    if (found->onDisk) std::filesystem::remove(PathOf(id), error);
    OutboxMessage message = std::move(found->message);
    ++message.attempts;
    lane.queue.erase(found);
    Count(message, "delivered");
    lock.unlock();
    if (settings_.finished) settings_.finished(message, outcome);
    lock.lock();
    return;
  }
  Entry& entry = *found;
  ++entry.message.attempts;
  const long long now = OutboxNow();
  const bool expired = now - entry.message.created >= settings_.lifetime.count();
  if (outcome.result == DeliveryResult::GiveUp || expired) {
    if (entry.onDisk) std::filesystem::remove(PathOf(id), error);
    OutboxMessage message = std::move(entry.message);
    lane.queue.erase(found);
    Count(message, "given_up");
    const std::string why = outcome.result == DeliveryResult::GiveUp
                                ? outcome.reason
                                : outcome.reason + " (still failing after " +
                                      std::to_string(message.attempts) + " attempts)";
    lock.unlock();
    if (settings_.log) settings_.log(WhereTo(message) + " given up: " + why + "\r\n");
    if (settings_.finished) settings_.finished(message, DeliveryOutcome{DeliveryResult::GiveUp, why, {}});
    lock.lock();
    return;
  }
  Count(entry.message, "retry");
  entry.message.next = now + Delay(entry.message.attempts, outcome);
  // The file learns the count and the time, so a restart keeps the pace and
  // the 24 hours; it never goes back to an attempt already made.
  entry.onDisk = Store(entry.message) || entry.onDisk;
  changed_.notify_all();
}

void Outbox::Run(Lane& lane, std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    if (lane.queue.empty() || lane.queue.front().held) {
      changed_.wait(lock, stop, [&] {
        return !lane.queue.empty() && !lane.queue.front().held;
      });
      continue;
    }
    const long long due = lane.queue.front().message.next;
    if (due > OutboxNow()) {
      const std::string head = lane.queue.front().message.id;
      changed_.wait_until(lock, stop,
                          std::chrono::system_clock::time_point(std::chrono::milliseconds(due)),
                          [&] {
                            return lane.queue.empty() || lane.queue.front().message.id != head ||
                                   lane.queue.front().held ||
                                   lane.queue.front().message.next != due;
                          });
      continue;
    }
    const OutboxMessage message = lane.queue.front().message;
    lock.unlock();
    const DeliveryOutcome outcome = settings_.deliver(message, stop);
    lock.lock();
    if (outcome.result == DeliveryResult::Aborted || stop.stop_requested()) {
      if (outcome.result != DeliveryResult::Aborted) Apply(lane, message.id, outcome, lock);
      break;
    }
    Apply(lane, message.id, outcome, lock);
  }
}

std::size_t Outbox::Pending() const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& [key, lane] : lanes_) count += lane->queue.size();
  return count;
}

Outbox::Counts Outbox::CountsSnapshot() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void Outbox::Stop() {
  std::vector<std::jthread> threads;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (auto& [key, lane] : lanes_) {
      if (lane->thread.joinable()) {
        lane->thread.request_stop();
        threads.push_back(std::move(lane->thread));
      }
    }
  }
  changed_.notify_all();
  for (std::jthread& thread : threads) thread.join();
}

}  // namespace sentrel
