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

bool Registry::SetString(std::string_view key, std::string_view name, std::string_view value,
                         RegistryWrite write) {
  return SetValue(key, name, kRegString, value, write);
}

std::optional<RegistryValue> Registry::GetValue(std::string_view key, std::string_view name) const {
  std::lock_guard lock(mutex_);
  const Value* found = Find(key, name);
  if (!found) return std::nullopt;
  return found->value;
}

bool Registry::Erase(std::string_view key, std::string_view name) {
  const auto path = CleanRegistryKey(key);
  if (!path) return false;
  const auto found = keys_.find(AsciiLower(*path));
  if (found == keys_.end()) return false;
  return std::erase_if(found->second.values,
                       [&](const Value& v) { return EqualsIgnoringCase(v.name, name); }) > 0;
}

void Registry::Record(std::string_view key, std::string_view name,
                      std::optional<RegistryValue> value) {
  // The spelling held (the first one given) is the one the store gets.
  std::string path = *CleanRegistryKey(key);
  std::string spelling(name);
  if (const auto held = keys_.find(AsciiLower(path)); held != keys_.end()) {
    path = held->second.name;
    for (const Value& v : held->second.values) {
      if (EqualsIgnoringCase(v.name, name)) spelling = v.name;
    }
  }
  for (Change& change : changes_) {
    if (EqualsIgnoringCase(change.key, path) && EqualsIgnoringCase(change.name, name)) {
      change.value = std::move(value);
      return;
    }
  }
  changes_.push_back(Change{std::move(path), std::move(spelling), std::move(value)});
}

void Registry::ApplyChanges() {
  for (const Change& change : changes_) {
    if (change.value) {
      Put(change.key, change.name, *change.value);
    } else {
      Erase(change.key, change.name);
    }
  }
}

bool Registry::SetValue(std::string_view key, std::string_view name, uint32_t type,
                        std::string_view data, RegistryWrite write) {
  std::lock_guard lock(mutex_);
  RegistryValue value{type, std::string(data)};
  const Value* held = Find(key, name);
  if (write == RegistryWrite::kIfChanged && held && held->value == value) return true;
  if (!Put(key, name, value)) return false;
  Record(key, name, std::move(value));
  return true;
}

bool Registry::DeleteValue(std::string_view key, std::string_view name) {
  std::lock_guard lock(mutex_);
  if (!Erase(key, name)) return false;
  Record(key, name, std::nullopt);
  return true;
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
