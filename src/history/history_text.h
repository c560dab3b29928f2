#pragma once

#include <cstdint>
#include <string>

#include "core/result_recorder.h"

namespace sentrel {

// "10.0.0.1 (router)", "10.0.0.1" without a name, "router" for a host pinged
// by name.
std::string HostText(const HistoryHost& host);

// The failure status of a check in words: "11010 timed out",
// "11003 host unreachable", or the number alone for a code without a name.
std::string StatusName(uint32_t status);

}  // namespace sentrel
