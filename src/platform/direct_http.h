#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace sentrel {

// The parts of an http:// or https:// URL as a request line and a
// connection need them.
struct HttpUrl {
  bool secure = false;
  std::string host;       // a name, a dotted quad or an IPv6 address without brackets
  std::string port;       // decimal; 80 or 443 when the URL names none
  std::string authority;  // host[:port] as written, for the Host header
  std::string target;     // path and query, "/" at least; no fragment
};

// Nothing for another scheme, user info, a bad port, or a blank or control
// character anywhere (it could end the request line early).
std::optional<HttpUrl> ParseHttpUrl(std::string_view url);

// SendHttpRequest over the program's own TCP client and TLS stream, as
// HTTP/1.1 with one request per connection. The certificate is checked
// against the system's roots and `request.caFile` during the handshake,
// before a byte of the request leaves, which a system HTTP library that
// trusts only its own store cannot do for a CA file. No proxy is used;
// redirects are not followed.
HttpResponse SendDirectHttpRequest(const HttpRequest& request, std::stop_token stop = {});

}  // namespace sentrel
