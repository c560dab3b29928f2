#pragma once

#include <optional>
#include <string>
#include <string_view>

// Inside the platform layer: the rules for key paths and value names that
// every store of the registry shares.
namespace sentrel {

// Key paths and value names must not hold control characters (a stored file
// keeps them on one line). Leading and trailing separators of a key path are
// dropped; nothing when the path is empty or invalid.
std::optional<std::string> CleanRegistryKey(std::string_view key);
bool ValidRegistryName(std::string_view name);

}  // namespace sentrel
