#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "export/listen_address.h"
#include "export/metrics_text.h"

struct MHD_Connection;
struct MHD_Daemon;

namespace sentrel {

class ConnectionDeadlines;

// What keeps a hostile or broken client from hurting the monitor.
struct MetricsLimits {
  unsigned connections = 64;           // at once; more are refused
  // From one client address: below `connections`, so that one client alone
  // can never take every place from the Prometheus server.
  unsigned connectionsPerClient = 16;
  std::chrono::seconds idleTimeout{5};  // a client that neither sends nor reads is dropped
  // A whole request, from the moment the connection waits for it to the last
  // byte of its answer: a client that sends a byte now and then is cut too.
  std::chrono::milliseconds requestDeadline{5000};
  std::size_t requestBytes = 16 * 1024;  // request line and headers; beyond: 431
  // A body rendered this recently is served again, so that many clients at
  // once share one copy instead of holding one each.
  std::chrono::milliseconds reuseBody{250};
  // A port in use (or an address not yet on this machine) is tried again.
  std::chrono::milliseconds retryListen{30'000};
};

// Renders one scrape's body; called on the endpoint's own thread.
using MetricsSource = std::function<std::string(ExpositionFormat)>;
// Receives the endpoint's one-line notices (started, refused, stopped); may
// be called on the endpoint's retry thread.
using MetricsNotice = std::function<void(const std::string&)>;

// The HTTP endpoint: GET or HEAD of /metrics (the scrape, in the format the
// Accept header asks for, gzip-compressed when Accept-Encoding allows) and
// /-/healthy; other paths 404, other methods 405. HTTP/1.1 keeps connections
// open and answers pipelined requests in order, and needs a Host header.
// Serves on one thread of its own, so a scrape never waits for the window
// thread or a worker, and they never wait for it.
class MetricsServer {
 public:
  MetricsServer(MetricsSource source, MetricsNotice notice, MetricsLimits limits = {});
  // Stop.
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Starts serving on `listen` (stopping any earlier endpoint first).
  // Says where it serves, with a warning when others than this machine can
  // reach it. When the address cannot be listened on (port in use, address
  // not on this machine) one notice says why, false is returned, and the
  // address is tried again every `retryListen` until it works (one notice
  // then) or the endpoint is stopped or started elsewhere.
  bool Start(const ListenAddress& listen);
  // MetricsListen or --metrics as the program applies it: empty text stops
  // the endpoint; unreadable text gives one notice and stops it; otherwise
  // it (re)starts on the address. Returns whether the endpoint runs.
  bool Apply(const std::string& listenText);
  // Stops serving (and trying to); open connections are closed. Idempotent.
  void Stop();
  bool Running() const { return running_; }
  // The port actually listened on (useful with port 0 in tests).
  uint16_t Port() const { return port_; }

 private:
  friend struct MetricsRequests;
  // One attempt to listen and serve; with `mutex_` held.
  bool TryStart(const ListenAddress& listen, std::string& error);
  void StopServing();  // with `mutex_` held
  void RetryUntilListening(std::stop_token stop, ListenAddress listen);
  // Queues the answer to one request; returns the HTTP library's verdict.
  int Respond(MHD_Connection* connection, const char* url, const char* method);
  std::shared_ptr<const std::string> BodyFor(ExpositionFormat format, bool gzip);

  MetricsSource source_;
  MetricsNotice notice_;
  MetricsLimits limits_;
  std::mutex mutex_;
  std::condition_variable_any retryWait_;
  std::jthread retry_;
  MHD_Daemon* daemon_ = nullptr;
  std::unique_ptr<ConnectionDeadlines> deadlines_;
  std::atomic<bool> running_{false};
  std::atomic<uint16_t> port_{0};
  std::string where_;
  // Touched only on the endpoint's thread: [format][gzip].
  struct Cached {
    std::shared_ptr<const std::string> body;
    std::chrono::steady_clock::time_point when;
  };
  Cached cached_[2][2];
};

}  // namespace sentrel
