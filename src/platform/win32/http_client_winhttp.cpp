#include <windows.h>
#include <winhttp.h>

#include <ctime>
#include <mutex>
#include <string>

#include "platform/http_client.h"
#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

// Closes its handle once, from whichever thread comes first: closing a
// request handle is how a blocked synchronous call is cut short.
class Handle {
 public:
  explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET Get() const { return handle_; }
  void Close() {
    std::lock_guard lock(mutex_);
    if (handle_) WinHttpCloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  std::mutex mutex_;
  HINTERNET handle_;
};

HttpFailure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return HttpFailure::Connect;
    case ERROR_WINHTTP_TIMEOUT:
      return HttpFailure::Timeout;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
      return HttpFailure::Certificate;
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return HttpFailure::Aborted;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return HttpFailure::BadRequest;
    default:
      return HttpFailure::Other;
  }
}

std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"winhttp.dll"), error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string result = length && text ? Narrow(std::wstring_view(text, length))
                                      : "WinHTTP error " + std::to_string(error);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}

HttpResponse Failed(DWORD error, const std::stop_token& stop) {
  HttpResponse response;
  response.failure = stop.stop_requested() ? HttpFailure::Aborted : FailureOf(error);
  response.error = ErrorText(error);
  return response;
}

// Systems before Windows 8.1 know no automatic proxy; they take the default.
HINTERNET OpenSession() {
  HINTERNET session = WinHttpOpen(L"Sentrel", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session) return session;
  return WinHttpOpen(L"Sentrel", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                     WINHTTP_NO_PROXY_BYPASS, 0);
}

}  // namespace

// The per-target CA file is not applied here: WinHTTP trusts the Windows
// certificate store, where a private CA is added for the whole system.
HttpResponse SendHttpRequest(const HttpRequest& request, std::stop_token stop) {
  const std::wstring url = Widen(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
    HttpResponse response;
    response.failure = HttpFailure::BadRequest;
    response.error = "not an http or https URL";
    return response;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  Handle session(OpenSession());
  if (!session.Get()) return Failed(GetLastError(), stop);
  const int total = static_cast<int>(request.timeout.count());
  WinHttpSetTimeouts(session.Get(), total, static_cast<int>(request.connectTimeout.count()), total,
                     total);
  Handle connection(WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
  if (!connection.Get()) return Failed(GetLastError(), stop);
  const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  Handle exchange(WinHttpOpenRequest(connection.Get(), Widen(request.method).c_str(), path.c_str(),
                                     nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     flags));
  if (!exchange.Get()) return Failed(GetLastError(), stop);
  DWORD noRedirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(exchange.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &noRedirects,
                   sizeof noRedirects);
  std::wstring headers;
  for (const auto& [name, value] : request.headers) headers += Widen(name + ": " + value + "\r\n");

  std::stop_callback cancel(stop, [&exchange] { exchange.Close(); });
  if (stop.stop_requested()) return Failed(ERROR_WINHTTP_OPERATION_CANCELLED, stop);
  // The body goes with the request; WinHTTP does not change it.
  void* body = request.body.empty() ? WINHTTP_NO_REQUEST_DATA
                                    : const_cast<char*>(request.body.data());
  const DWORD size = static_cast<DWORD>(request.body.size());
  if (!WinHttpSendRequest(exchange.Get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS
                                                          : headers.c_str(),
                          static_cast<DWORD>(-1), body, size, size, 0) ||
      !WinHttpReceiveResponse(exchange.Get(), nullptr)) {
    return Failed(GetLastError(), stop);
  }
  HttpResponse response;
  DWORD status = 0;
  DWORD length = sizeof status;
  WinHttpQueryHeaders(exchange.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX);
  wchar_t retry[128] = {};
  length = sizeof retry;
  if (WinHttpQueryHeaders(exchange.Get(), WINHTTP_QUERY_RETRY_AFTER, WINHTTP_HEADER_NAME_BY_INDEX,
                          retry, &length, WINHTTP_NO_HEADER_INDEX)) {
    response.retryAfter = ParseRetryAfter(Narrow(std::wstring_view(retry, length / sizeof(wchar_t))),
                                          static_cast<long long>(std::time(nullptr)));
  }
  // The answer's body is only shown or logged: read what fits, then stop.
  char buffer[4096];
  DWORD got = 0;
  while (response.body.size() < kMaxHttpResponseBody &&
         WinHttpReadData(exchange.Get(), buffer, sizeof buffer, &got) && got > 0) {
    response.body.append(buffer, std::min<std::size_t>(got, kMaxHttpResponseBody - response.body.size()));
  }
  response.failure = HttpFailure::None;
  response.status = static_cast<int>(status);
  return response;
}

}  // namespace sentrel
