#include "platform/registry.h"

#include <vector>

#include "common/text.h"
#include "platform/win32/registry_access.h"
#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

constexpr std::string_view kProgramKey = "SOFTWARE\\Sentrel";

// Names of the subkeys (subkeys = true) or values of an open key.
std::vector<std::string> Names(HKEY key, bool subkeys) {
  std::vector<std::string> names;
  std::wstring name(16384, L'\0');  // the longest value name the system allows
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG result =
        subkeys ? RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr)
                : RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) break;
    names.push_back(Narrow(std::wstring_view(name.data(), length)));
  }
  return names;
}

std::string Below(const std::string& parent, const std::string& child) {
  return parent.empty() ? child : parent + "\\" + child;
}

}  // namespace

std::string Registry::DefaultPath() { return {}; }

// Keys are held as paths below HKEY_CURRENT_USER; with a stand-in key they
// are held relative to it.
bool Registry::Load(std::string* warning) {
  std::lock_guard lock(mutex_);
  changes_.clear();
  return LoadLocked(warning);
}

bool Registry::LoadLocked(std::string* warning) {
  keys_.clear();
  damaged_ = false;
  const std::string top = path_.empty() ? std::string(kProgramKey) : std::string();
  std::vector<std::string> pending{top};
  // Bounded by the keys that exist; a key that vanishes while being read is
  // simply skipped.
  while (!pending.empty()) {
    const std::string relative = std::move(pending.back());
    pending.pop_back();
    const std::string full = path_.empty() ? relative : Below(path_, relative);
    const RegistryKey key(full, false, KEY_READ);
    if (!key.IsOpen()) {
      // A missing key is an empty registry, not an error; a key that exists
      // but cannot be read is, like a file that cannot be read.
      if (relative == top && key.Error() != ERROR_FILE_NOT_FOUND) {
        if (warning) {
          *warning = "Cannot read HKEY_CURRENT_USER\\" + full + ": " + SystemErrorText(key.Error());
        }
        return false;
      }
      continue;
    }
    for (const std::string& name : Names(key.Handle(), false)) {
      // The stand-in key's own values would have no key path; they are not ours.
      if (auto value = key.Get(name); value && !relative.empty()) Put(relative, name, *value);
    }
    for (const std::string& child : Names(key.Handle(), true)) pending.push_back(Below(relative, child));
  }
  return true;
}

// Only the values set or deleted here go to the registry, each on its own:
// values that another program changed meanwhile keep their change.
bool Registry::Save(std::string* error) {
  std::lock_guard lock(mutex_);
  std::string failures;
  for (auto it = changes_.begin(); it != changes_.end();) {
    const Change& change = *it;
    const std::string full = path_.empty() ? change.key : Below(path_, change.key);
    const RegistryKey open(full, change.value.has_value());
    LONG result = open.Error();
    if (open.IsOpen()) {
      result = change.value ? open.Set(change.name, *change.value) : open.Delete(change.name);
    }
    // A value to delete whose key or value is gone already is deleted.
    const bool gone = !change.value && (result == ERROR_FILE_NOT_FOUND);
    if (result != ERROR_SUCCESS && !gone) {
      failures += "HKEY_CURRENT_USER\\" + full + "\\" + change.name + ": " +
                  SystemErrorText(static_cast<DWORD>(result)) + "\n";
      ++it;  // stays pending for the next Save
      continue;
    }
    it = changes_.erase(it);
  }
  if (failures.empty()) return true;
  failures.pop_back();
  if (error) *error = failures;
  return false;
}

}  // namespace sentrel
