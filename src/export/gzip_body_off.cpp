#include "export/gzip_body.h"

namespace sentrel {

// A build without zlib serves every scrape uncompressed.
std::optional<std::string> GzipBody(std::string_view) { return std::nullopt; }

}  // namespace sentrel
