#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/date_time.h"

namespace sentrel {

struct HostEntry;

// Who a result belongs to in the history. A host keeps its history while its
// address and name stay the same. A host pinged by name is known by its name
// alone: its address follows the name server and may change at any check.
struct HistoryHost {
  std::string address;  // HostIP of a host pinged by address; empty for one pinged by name
  std::string name;     // HostName
  bool operator==(const HistoryHost&) const = default;
};

// The history identity of a host as its settings stand now.
HistoryHost HistoryHostOf(const HostEntry& host);

// One echo result as the engine has just handled it.
struct ResultRecord {
  HistoryHost host;
  DateTime when = 0;
  uint32_t status = 0;  // 0 for a reply, else the failure status
  uint32_t rtt = 0;     // ms; meaningful for a reply only
  // The result decided the host's state: a reply, or the last failure that
  // Retries allows. Earlier failures of a check only count as requests.
  bool decides = false;
  int32_t state = -1;      // State after the result
  int32_t prevState = -1;  // PrevState: -1 for the first result since checks (re)started
  // The round trip in microseconds where the probe measured it that finely;
  // the history keeps that resolution.
  std::optional<uint32_t> rttUs = std::nullopt;
};

// The history store as the result path sees it. Called on the host workers
// (and on the window thread for "Ping now"), so an implementation must return
// at once and never wait for a disk or for another thread's slow work; when
// it cannot keep a result it drops it.
class ResultRecorder {
 public:
  virtual ~ResultRecorder() = default;
  virtual void Record(const ResultRecord& result) = 0;
  // The trace that a loss alarm ran for `host`, for the outage it belongs to.
  virtual void RecordTrace(const HistoryHost& host, DateTime when, const std::string& text) = 0;
  // `host` became degraded (true) or stopped being so (false) at `when`.
  virtual void RecordDegradation(const HistoryHost& host, DateTime when, bool degraded) {
    (void)host;
    (void)when;
    (void)degraded;
  }
  // A notification of `host`'s latest outage has left the outbox: `text`
  // says which and how ("loss > ops: delivered"). Any thread.
  virtual void RecordNotification(const HistoryHost& host, const std::string& text) {
    (void)host;
    (void)text;
  }
};

}  // namespace sentrel
