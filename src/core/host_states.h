#pragma once

#include <map>
#include <string>
#include <utility>

#include "core/host_list.h"

namespace sentrel {

// The states of the hosts as a running Sentrel sees them, published beside
// the host list so that `--list` in another process can show them. Written
// by the running program when a state changes, removed when it ends; read
// only while that program holds the instance lock (a file left behind by a
// crash says nothing).
inline constexpr const char* kStateFileName = "sentrel.state";
std::string StateFilePath(const std::string& folder);

// One word per row: "off" (box clear), "unchecked", "up", "Lost",
// "Unreachable" (down while a parent or the uplink is down).
std::string HostStateWord(const HostEntry& host);

// One line per host: address, TAB, name, TAB, state word, CR LF.
std::string FormatHostStates(const HostList& list);

// The words by (address, name); lines that do not have three fields are
// left out.
using HostStates = std::map<std::pair<std::string, std::string>, std::string>;
HostStates ParseHostStates(const std::string& text);

}  // namespace sentrel
