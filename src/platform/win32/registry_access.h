#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

// Inside the Windows layer: values of the current user's registry through
// the W functions. Strings are UTF-8 here and UTF-16 in the registry; a
// string that is not UTF-8 is legacy ANSI text and is stored through the A
// function, as the system would store it.
namespace sentrel {

// An open key; closed with the object.
class RegistryKey {
 public:
  // Opens `path` below HKEY_CURRENT_USER, creating it when `create`.
  RegistryKey(std::string_view path, bool create, REGSAM access = KEY_READ | KEY_WRITE);
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool IsOpen() const { return key_ != nullptr; }
  HKEY Handle() const { return key_; }
  // The system's error of the open (ERROR_SUCCESS when open).
  LONG Error() const { return error_; }

  std::optional<RegistryValue> Get(std::string_view name) const;
  LONG Set(std::string_view name, const RegistryValue& value) const;
  LONG Delete(std::string_view name) const;

 private:
  HKEY key_ = nullptr;
  LONG error_ = ERROR_SUCCESS;
};

// The system's text for an error code.
std::string SystemErrorText(DWORD error);

}  // namespace sentrel
