#include "platform/private_temp_file.h"

#include <windows.h>

#include "platform/paths.h"
#include "platform/win32/text_wide.h"

namespace sentrel {

// The temporary folder is below the user's profile, which only the user (and
// the administrators) may read.
PrivateTempFile::PrivateTempFile(std::string_view prefix, std::string_view text) {
  const std::wstring folder = Widen(GetRuntimeFolder());
  wchar_t name[MAX_PATH];
  if (folder.empty() || GetTempFileNameW(folder.c_str(), Widen(prefix).c_str(), 0, name) == 0) {
    return;
  }
  HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                            FILE_ATTRIBUTE_TEMPORARY, nullptr);
  DWORD written = 0;
  const bool ok = file != INVALID_HANDLE_VALUE &&
                  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (ok) {
    path_ = Narrow(name);
  } else {
    DeleteFileW(name);
  }
}

PrivateTempFile::~PrivateTempFile() {
  if (!path_.empty()) DeleteFileW(Widen(path_).c_str());
}

}  // namespace sentrel
