#include "platform/direct_http.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <ctime>
#include <system_error>

#include "platform/tcp_client.h"

namespace sentrel {

namespace {

using Clock = std::chrono::steady_clock;

// More header lines than this is no web hook's answer.
constexpr int kMaxHeaderLines = 200;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

bool HasBlankOrControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7f;
  });
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool IsPort(std::string_view text) {
  if (text.empty() || text.size() > 5 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const int port = std::stoi(std::string(text));
  return port >= 1 && port <= 65535;
}

std::string Trimmed(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return std::string(text.substr(begin, end - begin));
}

HttpResponse Failure(HttpFailure failure, std::string error) {
  HttpResponse response;
  response.failure = failure;
  response.error = std::move(error);
  return response;
}

// Why the client failed, from its errno and TLS fault.
HttpResponse ClientFailure(const TcpClient& client, const std::stop_token& stop, bool connecting) {
  const int error = client.Error();
  if (stop.stop_requested() || error == ECANCELED) return Failure(HttpFailure::Aborted, "aborted");
  if (client.TlsFault() != TlsFailure::kNone) {
    std::string text(TlsFailureName(client.TlsFault()));
    if (!client.TlsDetail().empty()) text += ": " + client.TlsDetail();
    return Failure(IsCertificateRefusal(client.TlsFault()) ? HttpFailure::Certificate
                                                           : HttpFailure::Other,
                   text);
  }
  const std::string text = std::generic_category().message(error);
  if (error == ETIMEDOUT) return Failure(HttpFailure::Timeout, text);
  return Failure(connecting ? HttpFailure::Connect : HttpFailure::Other, text);
}

std::chrono::milliseconds Left(Clock::time_point deadline) {
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

// The status of "HTTP/1.1 200 OK"; 0 when the line is no status line.
int StatusOf(const std::string& line) {
  if (!StartsWithNoCase(line, "HTTP/") || line.size() < 12 || line[8] != ' ') return 0;
  int status = 0;
  for (std::size_t i = 9; i < 12; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    status = status * 10 + (line[i] - '0');
  }
  return status >= 100 ? status : 0;
}

// The answer's headers that decide how its body ends, and Retry-After.
struct AnswerHeaders {
  std::optional<std::size_t> contentLength;
  bool chunked = false;
  std::optional<std::string> retryAfter;
};

bool ReadHeaders(TcpClient& client, Clock::time_point deadline, AnswerHeaders& headers) {
  std::string line;
  for (int lines = 0; lines < kMaxHeaderLines; ++lines) {
    if (!client.ReadLine(line, Left(deadline))) return false;
    if (line.empty()) return true;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = line.substr(0, colon);
    const std::string value = Trimmed(std::string_view(line).substr(colon + 1));
    if (StartsWithNoCase(name, "content-length") && name.size() == 14) {
      if (!value.empty() && value.size() <= 18 &&
          std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        headers.contentLength = static_cast<std::size_t>(std::stoull(value));
      }
    } else if (StartsWithNoCase(name, "transfer-encoding") && name.size() == 17) {
      std::string lower = value;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      headers.chunked = lower.find("chunked") != std::string::npos;
    } else if (StartsWithNoCase(name, "retry-after") && name.size() == 11) {
      headers.retryAfter = value;
    }
  }
  return false;
}

// Appends `count` bytes of the body to `body`; false once the body is as
// long as it is kept (or the bytes did not come).
bool ReadBytes(TcpClient& client, std::size_t count, Clock::time_point deadline, std::string& body) {
  while (count > 0) {
    if (body.size() >= kMaxHttpResponseBody) return false;
    const std::size_t most = std::min(count, kMaxHttpResponseBody - body.size());
    const std::size_t before = body.size();
    if (!client.ReadSome(body, most, Left(deadline))) return false;
    count -= body.size() - before;
  }
  return true;
}

// The body as far as it is shown: it is only logged, so reading stops once
// enough is there, and a body cut short still leaves the answer's status.
void ReadBody(TcpClient& client, const AnswerHeaders& headers, Clock::time_point deadline,
              std::string& body) {
  if (headers.chunked) {
    std::string line;
    while (body.size() < kMaxHttpResponseBody && client.ReadLine(line, Left(deadline))) {
      // The size in hex; an extension after ';' is of no use here.
      std::size_t size = 0;
      const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), size, 16);
      const bool sized = error == std::errc() && end != line.data();
      if (!sized || size == 0) return;
      if (!ReadBytes(client, size, deadline, body) || !client.ReadLine(line, Left(deadline))) return;
    }
    return;
  }
  if (headers.contentLength) {
    ReadBytes(client, *headers.contentLength, deadline, body);
    return;
  }
  // Without a length the body ends with the connection.
  while (body.size() < kMaxHttpResponseBody) {
    std::string piece;
    if (!client.ReadSome(piece, kMaxHttpResponseBody - body.size(), Left(deadline))) return;
    body += piece;
  }
}

}  // namespace

std::optional<HttpUrl> ParseHttpUrl(std::string_view url) {
  HttpUrl parts;
  std::string_view rest;
  if (StartsWithNoCase(url, "https://")) {
    parts.secure = true;
    rest = url.substr(8);
  } else if (StartsWithNoCase(url, "http://")) {
    rest = url.substr(7);
  } else {
    return std::nullopt;
  }
  if (HasBlankOrControl(rest)) return std::nullopt;
  const std::size_t end = rest.find_first_of("/?#");
  const std::string_view authority = rest.substr(0, end);
  std::string_view target = end == std::string_view::npos ? std::string_view() : rest.substr(end);
  if (authority.empty() || authority.find('@') != std::string_view::npos) return std::nullopt;
  target = target.substr(0, target.find('#'));
  parts.target = target.empty() || target.front() != '/' ? "/" + std::string(target) : std::string(target);
  std::string_view port;
  if (authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos || close < 2) return std::nullopt;
    parts.host = std::string(authority.substr(1, close - 1));
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      port = after.substr(1);
      if (!IsPort(port)) return std::nullopt;
    }
  } else {
    const std::size_t colon = authority.find(':');
    parts.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      port = authority.substr(colon + 1);
      if (!IsPort(port)) return std::nullopt;
    }
    if (parts.host.empty()) return std::nullopt;
  }
  parts.port = port.empty() ? (parts.secure ? "443" : "80") : std::string(port);
  parts.authority = std::string(authority);
  return parts;
}

HttpResponse SendDirectHttpRequest(const HttpRequest& request, std::stop_token stop) {
  const auto url = ParseHttpUrl(request.url);
  if (!url) return Failure(HttpFailure::BadRequest, "not an http or https URL");
  if (HasBlankOrControl(request.method)) return Failure(HttpFailure::BadRequest, "bad method");
  std::string head = request.method + " " + url->target + " HTTP/1.1\r\nHost: " + url->authority +
                     "\r\nConnection: close\r\nUser-Agent: Sentrel\r\nContent-Length: " +
                     std::to_string(request.body.size()) + "\r\n";
  for (const auto& [name, value] : request.headers) {
    // A line break in a value would start a header of its own.
    if (name.empty() || HasBlankOrControl(name) || HasLineBreak(value)) {
      return Failure(HttpFailure::BadRequest, "bad header " + name);
    }
    head += name + ": " + value + "\r\n";
  }
  head += "\r\n";

  const auto deadline = Clock::now() + request.timeout;
  TcpClient client;
  client.SetStopToken(stop);
  if (!client.Connect(url->host, url->port, std::min(request.connectTimeout, Left(deadline)))) {
    return ClientFailure(client, stop, true);
  }
  if (url->secure && !client.StartTls({url->host, request.caFile}, Left(deadline))) {
    return ClientFailure(client, stop, true);
  }
  if (!client.Send(head + request.body, Left(deadline))) return ClientFailure(client, stop, false);

  std::string line;
  int status = 0;
  AnswerHeaders headers;
  // Interim answers (100 Continue) come before the final one.
  do {
    if (!client.ReadLine(line, Left(deadline))) return ClientFailure(client, stop, false);
    status = StatusOf(line);
    if (status == 0) return Failure(HttpFailure::Other, "no HTTP answer");
    headers = {};
    if (!ReadHeaders(client, deadline, headers)) return ClientFailure(client, stop, false);
  } while (status < 200);

  HttpResponse response;
  response.failure = HttpFailure::None;
  response.status = status;
  if (headers.retryAfter) {
    response.retryAfter = ParseRetryAfter(*headers.retryAfter, static_cast<long long>(std::time(nullptr)));
  }
  if (request.method != "HEAD" && status != 204 && status != 304) {
    ReadBody(client, headers, deadline, response.body);
  }
  return response;
}

}  // namespace sentrel
