#include "core/host_states.h"

#include "core/echo_result.h"
#include "platform/paths.h"

namespace sentrel {

std::string StateFilePath(const std::string& folder) { return JoinPath(folder, kStateFileName); }

std::string HostStateWord(const HostEntry& host) {
  if (!host.Enabled) return "off";
  const RowView view = ViewOfRow(host, true);
  switch (view.image) {
    case 0:
      return "unchecked";
    case 5:
      return "Lost";
    case kUnreachableImage:
      return kUnreachableText;
    default:
      return "up";
  }
}

std::string FormatHostStates(const HostList& list) {
  std::string text;
  for (std::size_t row = 0; row < list.Count(); ++row) {
    const HostEntry& host = list.Host(row);
    text += host.HostIP.Get() + "\t" + host.HostName.Get() + "\t" + HostStateWord(host) + "\r\n";
  }
  return text;
}

HostStates ParseHostStates(const std::string& text) {
  HostStates states;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find('\t');
    const std::size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second == std::string::npos) continue;
    states[{line.substr(0, first), line.substr(first + 1, second - first - 1)}] =
        line.substr(second + 1);
  }
  return states;
}

}  // namespace sentrel
