#include "core/host_parents.h"

#include <algorithm>

#include "common/text.h"

namespace sentrel {

std::string ParentKey(const HostEntry& host) {
  return host.PingByIP ? host.HostIP.Get() : host.HostName.Get();
}

bool NamedBy(const HostEntry& host, const std::string& key) {
  if (key.empty()) return false;
  if (host.PingByIP && host.HostIP.Get() == key) return true;
  const std::string name = host.HostName.Get();
  return !name.empty() && EqualsIgnoringCase(name, key);
}

const HostEntry* FindHost(const HostSnapshot& hosts, const std::string& key) {
  if (key.empty()) return nullptr;
  // An address match wins over a name that happens to read the same.
  for (const auto& host : hosts) {
    if (host->PingByIP && host->HostIP.Get() == key) return host.get();
  }
  for (const auto& host : hosts) {
    if (NamedBy(*host, key)) return host.get();
  }
  return nullptr;
}

const HostEntry* ParentOf(const HostSnapshot& hosts, const HostEntry& child) {
  const HostEntry* parent = FindHost(hosts, child.Parent.Get());
  return parent == &child ? nullptr : parent;
}

std::vector<const HostEntry*> ParentChain(const HostSnapshot& hosts, const HostEntry& child) {
  std::vector<const HostEntry*> chain;
  const HostEntry* at = &child;
  while (const HostEntry* parent = ParentOf(hosts, *at)) {
    if (parent == &child || std::find(chain.begin(), chain.end(), parent) != chain.end()) break;
    chain.push_back(parent);
    at = parent;
  }
  return chain;
}

std::string ParentLoopError(const HostSnapshot& hosts, const HostEntry& child,
                            const std::string& key) {
  const HostEntry* parent = FindHost(hosts, key);
  if (!parent) return {};
  if (parent == &child || NamedBy(child, key)) {
    return HostLabel(child) + " cannot be reached through itself";
  }
  for (const HostEntry* up : ParentChain(hosts, *parent)) {
    if (up == &child) {
      return HostLabel(child) + " cannot be reached through " + HostLabel(*parent) + ": " +
             HostLabel(*parent) + " is reached through " + HostLabel(child) +
             " already, which would make a loop";
    }
  }
  return {};
}

std::string HostLabel(const HostEntry& host) {
  std::string name = host.HostName.Get();
  return name.empty() ? host.HostIP.Get() : name;
}

}  // namespace sentrel
