#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sentrel {

class Registry;

// Every target lives under this key, one subkey per target named as it.
inline constexpr std::string_view kNotifyTargetsKey = "SOFTWARE\\Sentrel\\NotifyTargets";

// The kinds a target may be, as stored in its `Kind` value.
inline constexpr std::string_view kTargetKinds[] = {"webhook", "slack",  "teams", "discord",
                                                    "telegram", "ntfy", "gotify"};

// One named notification target: where alarms of the hosts that name it go.
// `Kind` and `Url` are always there; the other values are what the kind
// needs (`Token`, `ChatId`, `Topic`, `Priority`, `Body`, `CAFile`, ...),
// kept with the spelling they were given.
struct NotifyTarget {
  std::string Name;
  std::string Kind;
  std::string Url;
  std::vector<std::pair<std::string, std::string>> Values;

  // The value named `name` (letter case ignored), empty when missing.
  std::string Value(std::string_view name) const;
  void SetValue(std::string_view name, std::string_view value);
  friend bool operator==(const NotifyTarget&, const NotifyTarget&) = default;
};

bool IsTargetKind(std::string_view kind);

// Why `target` cannot be stored or sent ("" when it can): a name that the
// registry or a host's comma list cannot hold, an unknown kind, a URL that is
// not http(s), a value its kind needs that is missing.
std::string TargetProblem(const NotifyTarget& target);

// The stored targets, sorted by name. Keys without a `Kind` are skipped.
std::vector<NotifyTarget> LoadTargets(const Registry& registry);
std::optional<NotifyTarget> LoadTarget(const Registry& registry, std::string_view name);
// Stores `target` in place of any target of the same name (letter case
// ignored): values no longer given are removed. Does not save the registry.
// False when TargetProblem is not empty.
bool StoreTarget(Registry& registry, const NotifyTarget& target);
// True when there was such a target. Does not save the registry.
bool RemoveTarget(Registry& registry, std::string_view name);

// The names of the targets stored now in the registry at `registryPath`
// (read afresh; "" on Windows is the system's registry).
std::vector<std::string> StoredTargetNames(const std::string& registryPath);

// Takes the targets as they are stored now into `registry`, which the caller
// is about to save whole: a change made meanwhile by another program (the
// command line) is then kept, not undone.
void KeepStoredTargets(Registry& registry);

// The names of a host's comma list ("ops, pager" gives "ops" and "pager"),
// blanks trimmed, empty items and repeats (letter case ignored) dropped.
std::vector<std::string> SplitTargetNames(std::string_view list);
std::string JoinTargetNames(const std::vector<std::string>& names);

}  // namespace sentrel
