#include "export/metrics_server.h"

#include "export/connection_deadlines.h"

#include <utility>

namespace sentrel {

// The build without an HTTP server library (SENTREL_METRICS=OFF): the
// option is read and checked as always, and every start says plainly that
// this build serves no metrics.

MetricsServer::MetricsServer(MetricsSource source, MetricsNotice notice, MetricsLimits limits)
    : source_(std::move(source)), notice_(std::move(notice)), limits_(limits) {}

MetricsServer::~MetricsServer() = default;

bool MetricsServer::Start(const ListenAddress& listen) {
  notice_("Metrics endpoint not started on " + listen.Text() +
          ": this Sentrel was built without it. Monitoring goes on without it.");
  return false;
}

void MetricsServer::Stop() {}

}  // namespace sentrel
