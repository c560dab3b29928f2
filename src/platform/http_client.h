#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace sentrel {

// One HTTP(S) request as the notification targets send it.
struct HttpRequest {
  std::string method = "POST";
  std::string url;  // http:// or https:// only
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // A file of PEM certificates trusted beside the system's own; empty for
  // the system's alone. Nothing turns the check of the server off.
  std::string caFile;
  // For the whole exchange, connection included.
  std::chrono::milliseconds timeout{30000};
  std::chrono::milliseconds connectTimeout{10000};
};

// Why an exchange got no HTTP answer.
enum class HttpFailure {
  None,         // an answer came; see `status`
  Connect,      // name lookup, refused or unreachable connection
  Timeout,      // no (complete) answer in time
  Certificate,  // the server's certificate was not trusted or did not match
  Aborted,      // the stop token was requested
  BadRequest,   // the request cannot be sent (a bad URL, a scheme not allowed)
  Other,        // any other transport fault (connection reset, protocol error)
};

struct HttpResponse {
  HttpFailure failure = HttpFailure::Other;
  int status = 0;  // the HTTP status code when `failure` is None
  std::string body;  // at most kMaxHttpResponseBody bytes of the answer
  // The answer's Retry-After, in seconds from now (a date already past gives 0).
  std::optional<std::chrono::seconds> retryAfter;
  std::string error;  // a readable reason when `failure` is not None
};

// Bodies beyond this are cut: the senders only show or log the answer.
inline constexpr std::size_t kMaxHttpResponseBody = 64 * 1024;

// Sends `request` and waits for the answer, blocking the calling thread (never
// the window thread) for at most `request.timeout`, and returning soon after
// `stop` is requested. Redirects are not followed. Certificates and host
// names are always checked. Safe to call from several threads at once.
HttpResponse SendHttpRequest(const HttpRequest& request, std::stop_token stop = {});

// The seconds of a Retry-After value: a number of seconds, or an HTTP date
// (RFC 9110) taken against `now` (Unix seconds). Nothing for a text of neither form.
std::optional<std::chrono::seconds> ParseRetryAfter(const std::string& value, long long now);

// "connection refused", "timed out", ... for log lines.
const char* HttpFailureText(HttpFailure failure);

}  // namespace sentrel
