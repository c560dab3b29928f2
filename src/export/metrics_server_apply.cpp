#include "export/metrics_server.h"

#include <optional>

namespace sentrel {

bool MetricsServer::Apply(const std::string& listenText) {
  std::string error;
  const std::optional<ListenAddress> listen = ParseListenAddress(listenText, error);
  if (!listen) {
    Stop();
    if (!error.empty()) notice_("Metrics endpoint not started: " + error + ".");
    return false;
  }
  return Start(*listen);
}

}  // namespace sentrel
