#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sentrel {

// `body` compressed as a gzip stream (RFC 1952) for Content-Encoding: gzip.
// Nothing when this build has no compression library or it fails; the
// caller then serves the body as it is.
std::optional<std::string> GzipBody(std::string_view body);

}  // namespace sentrel
