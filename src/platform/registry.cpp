#include "platform/registry.h"

#include "common/text.h"
#include "platform/registry_key.h"

namespace sentrel {

std::optional<std::string> CleanRegistryKey(std::string_view key) {
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  if (key.empty()) return std::nullopt;
  for (char c : key) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
  }
  return std::string(key);
}

bool ValidRegistryName(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

Registry::Registry(std::string path) : path_(std::move(path)) {}

const Registry::Value* Registry::Find(std::string_view key, std::string_view name) const {
  const auto path = CleanRegistryKey(key);
  if (!path) return nullptr;
  const auto found = keys_.find(AsciiLower(*path));
  if (found == keys_.end()) return nullptr;
  for (const Value& value : found->second.values) {
    if (EqualsIgnoringCase(value.name, name)) return &value;
  }
  return nullptr;
}

bool Registry::Put(std::string_view key, std::string_view name, RegistryValue value) {
  const auto path = CleanRegistryKey(key);
  if (!path || !ValidRegistryName(name)) return false;
  Key& entry = keys_[AsciiLower(*path)];
  if (entry.name.empty()) entry.name = *path;
  for (Value& existing : entry.values) {
    if (EqualsIgnoringCase(existing.name, name)) {
      existing.value = std::move(value);
      return true;
    }
  }
  entry.values.push_back(Value{std::string(name), std::move(value)});
  return true;
}

std::optional<std::string> Registry::GetString(std::string_view key, std::string_view name) const {
  std::lock_guard lock(mutex_);
  const Value* found = Find(key, name);
  if (!found || (found->value.type != kRegString && found->value.type != kRegExpandString)) {
    return std::nullopt;
  }
  return found->value.data;
}

bool Registry::SetString(std::string_view key, std::string_view name, std::string_view value) {
  return SetValue(key, name, kRegString, value);
}

std::optional<RegistryValue> Registry::GetValue(std::string_view key, std::string_view name) const {
  std::lock_guard lock(mutex_);
  const Value* found = Find(key, name);
  if (!found) return std::nullopt;
  return found->value;
}

bool Registry::SetValue(std::string_view key, std::string_view name, uint32_t type,
                        std::string_view data) {
  std::lock_guard lock(mutex_);
  return Put(key, name, RegistryValue{type, std::string(data)});
}

bool Registry::DeleteValue(std::string_view key, std::string_view name) {
  std::lock_guard lock(mutex_);
  const auto path = CleanRegistryKey(key);
  if (!path) return false;
  const auto found = keys_.find(AsciiLower(*path));
  if (found == keys_.end()) return false;
  return std::erase_if(found->second.values,
                       [&](const Value& v) { return EqualsIgnoringCase(v.name, name); }) > 0;
}

std::vector<std::string> Registry::ValueNames(std::string_view key) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  const auto path = CleanRegistryKey(key);
  if (!path) return names;
  const auto found = keys_.find(AsciiLower(*path));
  if (found == keys_.end()) return names;
  for (const Value& value : found->second.values) names.push_back(value.name);
  return names;
}

std::vector<std::string> Registry::SubKeyNames(std::string_view key) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  const auto path = CleanRegistryKey(key);
  if (!path) return names;
  const std::string prefix = AsciiLower(*path) + "\\";
  // The map is ordered by lower-cased path, so the children are sorted too.
  for (auto it = keys_.lower_bound(prefix); it != keys_.end() && it->first.rfind(prefix, 0) == 0;
       ++it) {
    const std::string rest = it->second.name.substr(prefix.size());
    if (rest.find('\\') == std::string::npos && !it->second.values.empty()) names.push_back(rest);
  }
  return names;
}

bool Registry::ClearKey(std::string_view key) {
  std::lock_guard lock(mutex_);
  const auto path = CleanRegistryKey(key);
  if (!path) return false;
  const auto found = keys_.find(AsciiLower(*path));
  if (found == keys_.end() || found->second.values.empty()) return false;
  found->second.values.clear();
  return true;
}

void Registry::TakeKeysBelow(std::string_view key, const Registry& from) {
  const auto path = CleanRegistryKey(key);
  if (!path || &from == this) return;
  const std::string top = AsciiLower(*path);
  const auto below = [&top](const std::string& lower) {
    return lower == top || lower.rfind(top + "\\", 0) == 0;
  };
  std::scoped_lock lock(mutex_, from.mutex_);
  std::erase_if(keys_, [&](const auto& item) { return below(item.first); });
  for (const auto& [lower, entry] : from.keys_) {
    if (below(lower)) keys_[lower] = entry;
  }
}

}  // namespace sentrel
