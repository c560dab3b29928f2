#include "platform/win32/registry_access.h"

#include <vector>

#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace

RegistryKey::RegistryKey(std::string_view path, bool create, REGSAM access) {
  const std::wstring wide = Widen(path);
  error_ = create ? RegCreateKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, nullptr, 0, access,
                                    nullptr, &key_, nullptr)
                  : RegOpenKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, access, &key_);
  if (error_ != ERROR_SUCCESS) key_ = nullptr;
}

RegistryKey::~RegistryKey() {
  if (key_ != nullptr) RegCloseKey(key_);
}

std::optional<RegistryValue> RegistryKey::Get(std::string_view name) const {
  if (key_ == nullptr) return std::nullopt;
  const std::wstring wide = Widen(name);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key_, wide.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // The value may grow between the two calls; ask again with its new size.
  std::vector<BYTE> data(size + sizeof(wchar_t));
  for (int attempt = 0; attempt < 4; ++attempt) {
    size = static_cast<DWORD>(data.size());
    const LONG result = RegQueryValueExW(key_, wide.c_str(), nullptr, &type, data.data(), &size);
    if (result == ERROR_MORE_DATA) {
      data.resize(size + sizeof(wchar_t));
      continue;
    }
    if (result != ERROR_SUCCESS) return std::nullopt;
    RegistryValue value;
    value.type = type;
    if (IsStringType(type)) {
      std::wstring_view text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
      // A stored string usually ends in its terminating zero.
      if (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
      value.data = Narrow(text);
    } else {
      value.data.assign(reinterpret_cast<const char*>(data.data()), size);
    }
    return value;
  }
  return std::nullopt;
}

LONG RegistryKey::Set(std::string_view name, const RegistryValue& value) const {
  if (key_ == nullptr) return error_;
  if (IsStringType(value.type)) {
    if (!IsUtf8(value.data)) {
      // Legacy 8-bit text: the A function stores it as the ANSI text it is.
      const std::string ansiName(name);
      const std::string text = value.data + '\0';
      return RegSetValueExA(key_, ansiName.c_str(), 0, value.type,
                            reinterpret_cast<const BYTE*>(text.data()),
                            static_cast<DWORD>(text.size()));
    }
    const std::wstring text = Widen(value.data);
    return RegSetValueExW(key_, Widen(name).c_str(), 0, value.type,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  return RegSetValueExW(key_, Widen(name).c_str(), 0, value.type,
                        reinterpret_cast<const BYTE*>(value.data.data()),
                        static_cast<DWORD>(value.data.size()));
}

LONG RegistryKey::Delete(std::string_view name) const {
  if (key_ == nullptr) return error_;
  return RegDeleteValueW(key_, Widen(name).c_str());
}

std::string SystemErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length ? Narrow(std::wstring_view(text, length)) : std::string();
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message.empty() ? "system error " + std::to_string(error) : message;
}

}  // namespace sentrel
