#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "export/listen_address.h"
#include "export/metrics_text.h"

struct MHD_Connection;
struct MHD_Daemon;

namespace sentrel {

// What keeps a hostile or broken client from hurting the monitor.
struct MetricsLimits {
  unsigned connections = 64;           // more are refused at once
  std::chrono::seconds idleTimeout{5};  // a client that neither sends nor reads is dropped
  std::size_t requestBytes = 16 * 1024;  // request line and headers; beyond: 431
  // A body rendered this recently is served again, so that many clients at
  // once share one copy instead of holding one each.
  std::chrono::milliseconds reuseBody{250};
};

// Renders one scrape's body; called on the endpoint's own thread.
using MetricsSource = std::function<std::string(ExpositionFormat)>;
// Receives the endpoint's one-line notices (started, refused, stopped).
using MetricsNotice = std::function<void(const std::string&)>;

// The HTTP endpoint: GET or HEAD of /metrics (the scrape, in the format the
// Accept header asks for) and /-/healthy; other paths 404, other methods 405.
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
  // not on this machine) one notice says why and false is returned; the
  // caller runs on without the endpoint.
  bool Start(const ListenAddress& listen);
  // MetricsListen or --metrics as the program applies it: empty text stops
  // the endpoint; unreadable text gives one notice and stops it; otherwise
  // it (re)starts on the address. Returns whether the endpoint runs.
  bool Apply(const std::string& listenText);
  // Stops serving; open connections are closed. Idempotent.
  void Stop();
  bool Running() const { return daemon_ != nullptr; }
  // The port actually listened on (useful with port 0 in tests).
  uint16_t Port() const { return port_; }

 private:
  friend struct MetricsRequests;
  // Queues the answer to one request; returns the HTTP library's verdict.
  int Respond(MHD_Connection* connection, const char* url, const char* method);
  std::shared_ptr<const std::string> BodyFor(ExpositionFormat format);

  MetricsSource source_;
  MetricsNotice notice_;
  MetricsLimits limits_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
  std::string where_;
  // Touched only on the endpoint's thread.
  struct Cached {
    std::shared_ptr<const std::string> body;
    std::chrono::steady_clock::time_point when;
  };
  Cached cached_[2];
};

}  // namespace sentrel
