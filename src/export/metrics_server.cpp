#include "export/metrics_server.h"

#include <microhttpd.h>

#include <string_view>
#include <utility>

#include "export/connection_deadlines.h"
#include "export/gzip_body.h"
#include "platform/listen_socket.h"

namespace sentrel {

namespace {

constexpr const char* kHealthy = "Sentrel is healthy.\n";
constexpr const char* kPlainText = "text/plain; charset=utf-8";

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

const char* Header(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value ? value : "";
}

std::string SecondsText(std::chrono::milliseconds span) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(span).count()) + " s";
}

}  // namespace

struct MetricsRequests {
  static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char* /*version*/, const char* /*upload*/,
                           std::size_t* uploadSize, void** state) {
    // The library closes the connection after an answer queued on the
    // first call, which comes as soon as the headers are in: answering on
    // the next call keeps it open for the client's further requests.
    static int headersSeen;
    if (*state == nullptr) {
      *state = &headersSeen;
      return MHD_YES;
    }
    // A body sent with the request is read and ignored; the memory limit
    // bounds what the library keeps of it.
    if (*uploadSize != 0) {
      *uploadSize = 0;
      return MHD_YES;
    }
    return static_cast<MHD_Result>(static_cast<MetricsServer*>(cls)->Respond(connection, url, method));
  }
  static void Connection(void* cls, MHD_Connection* connection, void** /*context*/,
                         MHD_ConnectionNotificationCode code) {
    auto* deadlines = static_cast<ConnectionDeadlines*>(cls);
    if (code != MHD_CONNECTION_NOTIFY_STARTED) {
      deadlines->Closed(connection);
    } else if (const MHD_ConnectionInfo* info =
                   MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
      // Windows' socket handles are small numbers that fit the descriptor type.
      deadlines->Opened(connection, static_cast<int>(info->connect_fd));
    }
  }
  static void Completed(void* cls, MHD_Connection* connection, void** /*state*/,
                        MHD_RequestTerminationCode /*how*/) {
    static_cast<ConnectionDeadlines*>(cls)->Answered(connection);
  }
};

MetricsServer::MetricsServer(MetricsSource source, MetricsNotice notice, MetricsLimits limits)
    : source_(std::move(source)), notice_(std::move(notice)), limits_(limits) {}

MetricsServer::~MetricsServer() { Stop(); }

bool MetricsServer::Start(const ListenAddress& listen) {
  Stop();
  std::string error;
  {
    std::lock_guard lock(mutex_);
    if (TryStart(listen, error)) return true;
  }
  notice_("Metrics endpoint not started: cannot listen on " + listen.Text() + ": " + error +
          ". Monitoring goes on without it; the address is tried again every " +
          SecondsText(limits_.retryListen) + ".");
  retry_ = std::jthread([this, listen](std::stop_token stop) { RetryUntilListening(stop, listen); });
  return false;
}

void MetricsServer::RetryUntilListening(std::stop_token stop, ListenAddress listen) {
  std::unique_lock lock(mutex_);
  while (!retryWait_.wait_for(lock, stop, limits_.retryListen, [&stop] { return stop.stop_requested(); })) {
    std::string error;
    if (TryStart(listen, error)) return;
  }
}

bool MetricsServer::TryStart(const ListenAddress& listen, std::string& error) {
  // Made here rather than by the library, so that a refusal can say why.
  const int fd = OpenListeningSocket(listen.address, listen.port, listen.ipv6, error);
  if (fd < 0) return false;
  deadlines_ = std::make_unique<ConnectionDeadlines>(limits_.requestDeadline,
                                                     [](int socket) { ShutdownConnection(socket); });
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
  if (listen.ipv6) flags |= MHD_USE_IPv6;
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &MetricsRequests::Answer, this, MHD_OPTION_LISTEN_SOCKET,
      static_cast<MHD_socket>(fd), MHD_OPTION_CONNECTION_LIMIT, limits_.connections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits_.connectionsPerClient, MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(limits_.idleTimeout.count()), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      limits_.requestBytes,
      // HTTP/1.1 without Host is refused (400).
      MHD_OPTION_STRICT_FOR_CLIENT, 1,
      MHD_OPTION_NOTIFY_CONNECTION, &MetricsRequests::Connection, deadlines_.get(),
      MHD_OPTION_NOTIFY_COMPLETED, &MetricsRequests::Completed, deadlines_.get(), MHD_OPTION_END);
  if (daemon_ == nullptr) {
    CloseListeningSocket(fd);
    deadlines_.reset();
    error = "the HTTP server could not start";
    return false;
  }
  port_ = ListeningPort(fd);
  ListenAddress actual = listen;
  actual.port = port_;
  where_ = actual.Text();
  running_ = true;
  notice_("Metrics served on http://" + where_ + "/metrics to " +
          (listen.Loopback() ? "this computer only." : "every host that can reach it."));
  return true;
}

void MetricsServer::Stop() {
  retry_.request_stop();
  if (retry_.joinable()) retry_.join();
  std::lock_guard lock(mutex_);
  StopServing();
}

void MetricsServer::StopServing() {
  if (daemon_ == nullptr) return;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  deadlines_.reset();
  running_ = false;
  port_ = 0;
  for (auto& format : cached_) {
    for (Cached& cached : format) cached = {};
  }
  notice_("Metrics endpoint on " + where_ + " stopped.");
}

std::shared_ptr<const std::string> MetricsServer::BodyFor(ExpositionFormat format, bool gzip) {
  Cached& cached = cached_[format == ExpositionFormat::OpenMetrics100 ? 1 : 0][gzip ? 1 : 0];
  if (!cached.body || std::chrono::steady_clock::now() - cached.when >= limits_.reuseBody) {
    if (gzip) {
      // Packed from the plain body while that is served, so both agree.
      std::optional<std::string> packed = GzipBody(*BodyFor(format, false));
      if (!packed) return nullptr;
      cached.body = std::make_shared<const std::string>(std::move(*packed));
    } else {
      cached.body = std::make_shared<const std::string>(source_(format));
    }
    // From when it is ready: a long rendering is not wasted on one client.
    cached.when = std::chrono::steady_clock::now();
  }
  return cached.body;
}

int MetricsServer::Respond(MHD_Connection* connection, const char* url, const char* method) {
  const std::string_view verb = method;
  if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD) {
    return Queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, kPlainText, "Only GET and HEAD are served here.\n",
                 "GET, HEAD");
  }
  const std::string_view path = url;
  if (path == "/-/healthy") return Queue(connection, MHD_HTTP_OK, kPlainText, kHealthy);
  if (path != "/metrics") return Queue(connection, MHD_HTTP_NOT_FOUND, kPlainText, "Not found.\n");

  const ExpositionFormat format = FormatForAccept(Header(connection, MHD_HTTP_HEADER_ACCEPT));
  std::shared_ptr<const std::string> body;
  if (AcceptsGzip(Header(connection, MHD_HTTP_HEADER_ACCEPT_ENCODING))) body = BodyFor(format, true);
  const bool gzip = body != nullptr;
  if (!gzip) body = BodyFor(format, false);
  MHD_Response* response = SharedResponse(std::move(body));
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, ContentTypeOf(format));
  MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, "Accept, Accept-Encoding");
  if (gzip) MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_ENCODING, "gzip");
  const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return result;
}

}  // namespace sentrel
