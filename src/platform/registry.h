#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// Value types as the registry numbers them.
enum RegistryType : uint32_t {
  kRegNone = 0,
  kRegString = 1,
  kRegExpandString = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

// Whether storing a value equal to the one held is a change that Save
// writes: settings are written only when changed; the program's own state
// at exit (window placement, running state) is written as it is.
enum class RegistryWrite { kIfChanged, kAlways };

struct RegistryValue {
  uint32_t type = kRegString;
  std::string data;  // raw bytes; may hold zero bytes

  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// The current user's registry. On Windows it is the system's own: Load reads
// the keys below HKEY_CURRENT_USER\SOFTWARE\Sentrel and Save writes every key
// held; a `path` names a key below HKEY_CURRENT_USER that stands in for it
// (for tests). Elsewhere it is kept in one text file in the registry export
// format ("REGEDIT4"), so that a person can read and edit it and Windows can
// import it. Keys are paths below HKEY_CURRENT_USER such as
// "SOFTWARE\Sentrel\Options"; key paths and value names are compared without
// ASCII letter case and keep the spelling they were first given.
//
// Changes stay in memory until Save, and Save writes back only those: a
// value that another program (or the person editing the file) changed while
// this one ran keeps that change unless this program set the same value
// itself. Storing a value equal to the one held is no change unless written
// with RegistryWrite::kAlways. One instance
// may be shared by several threads: every member takes an internal lock.
class Registry {
 public:
  // The per-user file: GetConfigFolder() + "/registry.reg".
  static std::string DefaultPath();

  explicit Registry(std::string path = DefaultPath());

  const std::string& Path() const { return path_; }

  // Replaces the contents with the file's. A missing file gives an empty
  // registry and is not an error. A damaged file is read as far as its lines
  // are valid (invalid lines are skipped, and the next Save first copies the
  // damaged file to Path() + ".damaged"). Returns false only when the file
  // exists but cannot be read; `warning` then says why, and otherwise
  // describes the first damaged line, if any.
  bool Load(std::string* warning = nullptr);

  // Writes the values set or deleted since the last Load or Save into the
  // store as it is now. The file is read afresh, the changes are applied to
  // it and it is rewritten atomically with mode 0600 (also when it had a
  // wider mode: it holds passwords; the folder is created with mode 0700);
  // afterwards this instance holds what was written. On failure (the file
  // cannot be read or written) the old file is left as it was, the changes
  // stay pending and `error` says why. On Windows only the changed values
  // are written to the registry.
  bool Save(std::string* error = nullptr);

  // A string value (type 1 or 2). Nothing when missing or of another type.
  std::optional<std::string> GetString(std::string_view key, std::string_view name) const;
  // Stores a string value (type 1). False when the key or name cannot be
  // written to the file (empty key, or a control character in either).
  bool SetString(std::string_view key, std::string_view name, std::string_view value,
                 RegistryWrite write = RegistryWrite::kIfChanged);

  std::optional<RegistryValue> GetValue(std::string_view key, std::string_view name) const;
  bool SetValue(std::string_view key, std::string_view name, uint32_t type,
                std::string_view data, RegistryWrite write = RegistryWrite::kIfChanged);

  // True when the value existed.
  bool DeleteValue(std::string_view key, std::string_view name);

  // Names of the values under `key`, in the order they were stored.
  std::vector<std::string> ValueNames(std::string_view key) const;
  // Names of the keys directly below `key` that hold at least one value,
  // sorted without letter case.
  std::vector<std::string> SubKeyNames(std::string_view key) const;
  // Removes every value of `key` (the key itself stays, empty, so that the
  // system's registry loses the values at the next Save too). True when
  // there was a value.
  bool ClearKey(std::string_view key);
  // Makes `key` and every key below it as they are in `from`, for a part of
  // the registry that other programs edit while this one runs.
  void TakeKeysBelow(std::string_view key, const Registry& from);

 private:
  struct Value {
    std::string name;
    RegistryValue value;
  };
  struct Key {
    std::string name;
    std::vector<Value> values;
  };
  // A value set (value present) or deleted (none) since the last Load or Save.
  struct Change {
    std::string key;  // cleaned path
    std::string name;
    std::optional<RegistryValue> value;
  };

  // Callers hold mutex_.
  const Value* Find(std::string_view key, std::string_view name) const;
  bool Put(std::string_view key, std::string_view name, RegistryValue value);
  bool Erase(std::string_view key, std::string_view name);
  void Record(std::string_view key, std::string_view name, std::optional<RegistryValue> value);
  void ApplyChanges();
  bool LoadLocked(std::string* warning);
  void Parse(std::string_view text, std::string* warning);
  std::string Serialize() const;

  std::string path_;
  mutable std::mutex mutex_;
  std::map<std::string, Key> keys_;  // by lower-cased key path
  // In the order made, one per value; applied by Save.
  std::vector<Change> changes_;
  bool damaged_ = false;  // the loaded file had invalid lines
};

}  // namespace sentrel
