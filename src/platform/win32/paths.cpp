#include "platform/paths.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

// The user's roaming application-data folder (the shell folder "AppData")
// with "Sentrel" below it.
std::string AppDataFolder() {
  PWSTR folder = nullptr;
  std::string path;
  if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder) == S_OK) {
    path = JoinPath(Narrow(folder), "Sentrel");
  }
  CoTaskMemFree(folder);
  return path;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + '\\' + name;
}

std::string GetDataFolder() { return AppDataFolder(); }

std::string GetConfigFolder() { return AppDataFolder(); }

std::string GetRuntimeFolder() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
  if (length == 0 || length > MAX_PATH + 1) return {};
  std::string folder = Narrow(std::wstring_view(buffer, length));
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

std::string GetProgramPath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return Narrow(std::wstring_view(buffer.data(), length));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string GetProgramFolder() {
  const std::string exe = GetProgramPath();
  const auto slash = exe.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

std::string ExpandEnvironmentNames(const std::string& text) {
  const std::wstring wide = Widen(text);
  std::wstring expanded(wide.size() + 256, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = ExpandEnvironmentStringsW(wide.c_str(), expanded.data(),
                                                   static_cast<DWORD>(expanded.size()));
    if (length == 0) return text;
    if (length <= expanded.size()) return Narrow(std::wstring_view(expanded.data(), length - 1));
    expanded.resize(length);
  }
  return text;
}

}  // namespace sentrel
