#pragma once

#include <string>
#include <vector>

#include "core/host_list.h"

namespace sentrel {

// Parents: a host names the host it is reached through (HostEntry::Parent)
// by that host's ParentKey. The names form chains towards this computer;
// a loop is refused wherever a parent is set.

// How other hosts name `host` as their parent: its address, or its name for
// a host pinged by name (its address follows the name server).
std::string ParentKey(const HostEntry& host);

// Whether `key` names `host`: its address exactly, or its name in any
// letter case.
bool NamedBy(const HostEntry& host, const std::string& key);

// The host that `key` names among `hosts`; null when none does.
const HostEntry* FindHost(const HostSnapshot& hosts, const std::string& key);

// The parent of `child` among `hosts`; null when it has none, or names
// itself or a host that is not on the list.
const HostEntry* ParentOf(const HostSnapshot& hosts, const HostEntry& child);

// The parent, its parent and so on, nearest first. Ends before a host
// already on the chain, so a loop in a hand-edited file ends it too.
std::vector<const HostEntry*> ParentChain(const HostSnapshot& hosts, const HostEntry& child);

// Why `child` may not be reached through the host that `key` names: it is
// that host itself, or that host is already reached through `child`. Empty
// when it may (an empty key, or one that names no host, makes no loop).
std::string ParentLoopError(const HostSnapshot& hosts, const HostEntry& child,
                            const std::string& key);

// How a host is called in texts: its name, else its address.
std::string HostLabel(const HostEntry& host);

}  // namespace sentrel
