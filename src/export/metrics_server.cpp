#include "export/metrics_server.h"

#include <microhttpd.h>

#include <string_view>
#include <utility>

#include "platform/listen_socket.h"

namespace sentrel {

namespace {

constexpr const char* kHealthy = "Sentrel is healthy.\n";
constexpr const char* kIndex =
    "<!DOCTYPE html><html><head><title>Sentrel</title></head><body>"
    "<h1>Sentrel</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

// A response that serves `body` and keeps it alive until the library is done.
MHD_Response* SharedResponse(std::shared_ptr<const std::string> body) {
  auto* holder = new std::shared_ptr<const std::string>(std::move(body));
  MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
      (*holder)->size(), const_cast<char*>((*holder)->data()),
      [](void* cls) { delete static_cast<std::shared_ptr<const std::string>*>(cls); }, holder);
  if (response == nullptr) delete holder;
  return response;
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, const char* contentType,
                 const std::string& text, const char* allow = nullptr) {
  MHD_Response* response = SharedResponse(std::make_shared<const std::string>(text));
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
  if (allow) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

}  // namespace

struct MetricsRequests {
  static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char* /*version*/, const char* /*upload*/,
                           std::size_t* uploadSize, void** /*state*/) {
    // A body sent with the request is read and ignored; the memory limit
    // bounds what the library keeps of it.
    if (*uploadSize != 0) {
      *uploadSize = 0;
      return MHD_YES;
    }
    return static_cast<MHD_Result>(static_cast<MetricsServer*>(cls)->Respond(connection, url, method));
  }
};

MetricsServer::MetricsServer(MetricsSource source, MetricsNotice notice, MetricsLimits limits)
    : source_(std::move(source)), notice_(std::move(notice)), limits_(limits) {}

MetricsServer::~MetricsServer() { Stop(); }

bool MetricsServer::Start(const ListenAddress& listen) {
  Stop();
  std::string error;
  // Made here rather than by the library, so that a refusal can say why.
  const int fd = OpenListeningSocket(listen.address, listen.port, listen.ipv6, error);
  if (fd < 0) {
    notice_("Metrics endpoint not started: cannot listen on " + listen.Text() + ": " + error +
            ". Monitoring goes on without it.");
    return false;
  }
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
  if (listen.ipv6) flags |= MHD_USE_IPv6;
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &MetricsRequests::Answer, this, MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(fd),
      MHD_OPTION_CONNECTION_LIMIT, limits_.connections, MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(limits_.idleTimeout.count()), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      limits_.requestBytes, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    CloseListeningSocket(fd);
    notice_("Metrics endpoint not started on " + listen.Text() +
            ": the HTTP server could not start. Monitoring goes on without it.");
    return false;
  }
  port_ = ListeningPort(fd);
  ListenAddress actual = listen;
  actual.port = port_;
  where_ = actual.Text();
  if (listen.Loopback()) {
    notice_("Metrics served on http://" + where_ + "/metrics to this computer only.");
  } else {
    notice_("Metrics served on http://" + where_ + "/metrics to every host that can reach it.");
  }
  return true;
}

void MetricsServer::Stop() {
  if (daemon_ == nullptr) return;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  port_ = 0;
  for (Cached& cached : cached_) cached = {};
  notice_("Metrics endpoint on " + where_ + " stopped.");
}

std::shared_ptr<const std::string> MetricsServer::BodyFor(ExpositionFormat format) {
  Cached& cached = cached_[format == ExpositionFormat::OpenMetrics100 ? 1 : 0];
  const auto now = std::chrono::steady_clock::now();
  if (!cached.body || now - cached.when >= limits_.reuseBody) {
    cached.body = std::make_shared<const std::string>(source_(format));
    cached.when = now;
  }
  return cached.body;
}

int MetricsServer::Respond(MHD_Connection* connection, const char* url, const char* method) {
  const std::string_view verb = method;
  if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD) {
    return Queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain; charset=utf-8",
                 "Only GET and HEAD are served here.\n", "GET, HEAD");
  }
  const std::string_view path = url;
  if (path == "/metrics") {
    const char* accept = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT);
    const ExpositionFormat format = FormatForAccept(accept ? accept : "");
    MHD_Response* response = SharedResponse(BodyFor(format));
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, ContentTypeOf(format));
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
  }
  if (path == "/-/healthy") return Queue(connection, MHD_HTTP_OK, "text/plain; charset=utf-8", kHealthy);
  if (path == "/") return Queue(connection, MHD_HTTP_OK, "text/html; charset=utf-8", kIndex);
  return Queue(connection, MHD_HTTP_NOT_FOUND, "text/plain; charset=utf-8", "Not found.\n");
}

}  // namespace sentrel
