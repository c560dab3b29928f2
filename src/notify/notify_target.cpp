#include "notify/notify_target.h"

#include <algorithm>

#include "common/text.h"
#include "platform/registry.h"

namespace sentrel {

namespace {

std::string KeyOf(std::string_view name) {
  return std::string(kNotifyTargetsKey) + "\\" + std::string(name);
}

bool Named(std::string_view a, std::string_view b) { return EqualsIgnoringCase(a, b); }

bool NeedsValue(const NotifyTarget& target, std::string_view kind, std::string_view value) {
  return target.Kind == kind && TrimBlanks(target.Value(value)).empty();
}

}  // namespace

std::string NotifyTarget::Value(std::string_view name) const {
  for (const auto& [key, value] : Values) {
    if (Named(key, name)) return value;
  }
  return {};
}

void NotifyTarget::SetValue(std::string_view name, std::string_view value) {
  for (auto& [key, stored] : Values) {
    if (Named(key, name)) {
      stored = value;
      return;
    }
  }
  Values.emplace_back(std::string(name), std::string(value));
}

bool IsTargetKind(std::string_view kind) {
  return std::find(std::begin(kTargetKinds), std::end(kTargetKinds), kind) != std::end(kTargetKinds);
}

std::string TargetProblem(const NotifyTarget& target) {
  if (TrimBlanks(target.Name).empty()) return "a target needs a name";
  if (target.Name != TrimBlanks(target.Name)) return "a target name cannot start or end with a blank";
  for (char c : target.Name) {
    // A host names its targets in a comma list; a key path ends at a backslash.
    if (c == ',' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      return "a target name cannot hold a comma, a backslash or a control character";
    }
  }
  if (!IsTargetKind(target.Kind)) {
    return "unknown kind \"" + target.Kind +
           "\" (webhook, slack, teams, discord, telegram, ntfy or gotify)";
  }
  const std::string url = AsciiLower(target.Url);
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) {
    return "the URL must start with https:// or http://";
  }
  for (char c : target.Url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return "the URL cannot hold blanks";
  }
  if (NeedsValue(target, "telegram", "Token")) return "a telegram target needs Token=BOT-TOKEN";
  if (NeedsValue(target, "telegram", "ChatId")) return "a telegram target needs ChatId=CHAT-ID";
  if (NeedsValue(target, "ntfy", "Topic")) return "an ntfy target needs Topic=TOPIC";
  if (NeedsValue(target, "gotify", "Token")) return "a gotify target needs Token=APP-TOKEN";
  for (const auto& [key, value] : target.Values) {
    if (Named(key, "Kind") || Named(key, "Url") || key.empty()) {
      return "\"" + key + "\" is not a value name a target can take";
    }
    for (char c : key) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '=') {
        return "a value name cannot hold \"=\" or a control character";
      }
    }
  }
  return {};
}

std::optional<NotifyTarget> LoadTarget(const Registry& registry, std::string_view name) {
  for (const std::string& stored : registry.SubKeyNames(kNotifyTargetsKey)) {
    if (!Named(stored, name)) continue;
    const std::string key = KeyOf(stored);
    const auto kind = registry.GetString(key, "Kind");
    if (!kind) return std::nullopt;
    NotifyTarget target;
    target.Name = stored;
    target.Kind = AsciiLower(TrimBlanks(*kind));
    target.Url = TrimBlanks(registry.GetString(key, "Url").value_or(""));
    for (const std::string& value : registry.ValueNames(key)) {
      if (Named(value, "Kind") || Named(value, "Url")) continue;
      if (auto text = registry.GetString(key, value)) target.Values.emplace_back(value, *text);
    }
    return target;
  }
  return std::nullopt;
}

std::vector<NotifyTarget> LoadTargets(const Registry& registry) {
  std::vector<NotifyTarget> targets;
  for (const std::string& name : registry.SubKeyNames(kNotifyTargetsKey)) {
    if (auto target = LoadTarget(registry, name)) targets.push_back(std::move(*target));
  }
  return targets;
}

bool StoreTarget(Registry& registry, const NotifyTarget& target) {
  if (!TargetProblem(target).empty()) return false;
  // A rename in letter case only would leave the old spelling's key behind.
  RemoveTarget(registry, target.Name);
  const std::string key = KeyOf(target.Name);
  bool stored = registry.SetString(key, "Kind", target.Kind) &&
                registry.SetString(key, "Url", target.Url);
  for (const auto& [name, value] : target.Values) stored = stored && registry.SetString(key, name, value);
  return stored;
}

bool RemoveTarget(Registry& registry, std::string_view name) {
  bool removed = false;
  for (const std::string& stored : registry.SubKeyNames(kNotifyTargetsKey)) {
    if (Named(stored, name)) removed = registry.ClearKey(KeyOf(stored)) || removed;
  }
  return removed;
}

std::vector<std::string> StoredTargetNames(const std::string& registryPath) {
  Registry stored(registryPath);
  stored.Load();
  std::vector<std::string> names;
  for (const NotifyTarget& target : LoadTargets(stored)) names.push_back(target.Name);
  return names;
}

void KeepStoredTargets(Registry& registry) {
  Registry stored(registry.Path());
  if (stored.Load()) registry.TakeKeysBelow(kNotifyTargetsKey, stored);
}

std::vector<std::string> SplitTargetNames(std::string_view list) {
  std::vector<std::string> names;
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string name = TrimBlanks(list.substr(0, comma));
    const bool repeat = std::any_of(names.begin(), names.end(),
                                    [&](const std::string& n) { return Named(n, name); });
    if (!name.empty() && !repeat) names.push_back(name);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return names;
}

std::string JoinTargetNames(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) {
    if (!list.empty()) list += ",";
    list += name;
  }
  return list;
}

}  // namespace sentrel
