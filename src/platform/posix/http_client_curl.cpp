#include <curl/curl.h>
#include <openssl/ssl.h>

#include <ctime>
#include <memory>
#include <mutex>

#include "platform/http_client.h"

namespace sentrel {

namespace {

struct Exchange {
  const HttpRequest* request = nullptr;
  std::stop_token stop;
  HttpResponse response;
  std::string caError;
};

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const size_t bytes = size * count;
  std::string& body = exchange->response.body;
  if (body.size() < kMaxHttpResponseBody) {
    body.append(data, std::min(bytes, kMaxHttpResponseBody - body.size()));
  }
  return bytes;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const size_t bytes = size * count;
  const std::string line(data, bytes);
  // A new status line (after a 100 Continue) starts a new set of headers.
  if (line.rfind("HTTP/", 0) == 0) exchange->response.retryAfter.reset();
  static constexpr std::string_view kName = "retry-after:";
  if (line.size() > kName.size()) {
    bool match = true;
    for (size_t i = 0; i < kName.size(); ++i) {
      match = match && std::tolower(static_cast<unsigned char>(line[i])) == kName[i];
    }
    if (match) {
      exchange->response.retryAfter =
          ParseRetryAfter(line.substr(kName.size()), static_cast<long long>(std::time(nullptr)));
    }
  }
  return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Exchange*>(user)->stop.stop_requested() ? 1 : 0;
}

// The target's own CA file goes into the store beside the system's
// certificates: CURLOPT_CAINFO would replace them.
CURLcode AddTrust(CURL*, void* sslContext, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  auto* context = static_cast<SSL_CTX*>(sslContext);
  if (SSL_CTX_load_verify_locations(context, exchange->request->caFile.c_str(), nullptr) != 1) {
    exchange->caError = "cannot read the CA file " + exchange->request->caFile;
    return CURLE_SSL_CACERT_BADFILE;
  }
  return CURLE_OK;
}

HttpFailure FailureOf(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return HttpFailure::Connect;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::Timeout;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return HttpFailure::Certificate;
    case CURLE_ABORTED_BY_CALLBACK:
      return HttpFailure::Aborted;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return HttpFailure::BadRequest;
    default:
      return HttpFailure::Other;
  }
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

HttpResponse SendHttpRequest(const HttpRequest& request, std::stop_token stop) {
  GlobalInit();
  Exchange exchange;
  exchange.request = &request;
  exchange.stop = std::move(stop);
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    exchange.response.error = "cannot start an HTTP transfer";
    return exchange.response;
  }
  std::unique_ptr<curl_slist, ListDeleter> headers;
  for (const auto& [name, value] : request.headers) {
    const std::string line = name + ": " + value;
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (!grown) {
      exchange.response.error = "out of memory";
      return exchange.response;
    }
    headers.release();
    headers.reset(grown);
  }
  char errorText[CURL_ERROR_SIZE] = {};
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (request.method != "GET") {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Sentrel");
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeout.count()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &exchange);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  if (!request.caFile.empty()) {
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, AddTrust);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &exchange);
  }
  const CURLcode code = curl_easy_perform(h);
  if (code == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    exchange.response.failure = HttpFailure::None;
    exchange.response.status = static_cast<int>(status);
    return exchange.response;
  }
  exchange.response.failure = FailureOf(code);
  if (exchange.stop.stop_requested()) exchange.response.failure = HttpFailure::Aborted;
  exchange.response.error = !exchange.caError.empty() ? exchange.caError
                            : errorText[0]            ? errorText
                                                      : curl_easy_strerror(code);
  exchange.response.retryAfter.reset();
  return exchange.response;
}

}  // namespace sentrel
