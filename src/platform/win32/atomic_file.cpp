#include "platform/atomic_file.h"

#include <windows.h>

#include <random>

#include "platform/win32/file_replace_calls.h"
#include "platform/win32/registry_access.h"
#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

std::string Reason(const std::string& what, const std::string& file, DWORD error) {
  return what + " \"" + file + "\": " + SystemErrorText(error);
}

std::size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

std::string FolderOf(const std::string& path) {
  const auto slash = LastSeparator(path);
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A temporary file's name beside its target: ".NAME.XXXXXX", each X one of
// kLetters (letter case aside, as the file system compares names).
constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixLength = 6;

std::string HiddenPrefix(const std::string& name) { return "." + name + "."; }

// Removes what a writer killed before its rename left behind.
void RemoveLeftovers(const std::string& folder, const std::string& name) {
  const std::wstring pattern = Widen(folder + "\\" + HiddenPrefix(name) + "*");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  const std::size_t length = HiddenPrefix(name).size() + kSuffixLength;
  do {
    const std::string leftover = Narrow(found.cFileName);
    if (leftover.size() == length && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      DeleteFileW(Widen(folder + "\\" + leftover).c_str());
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// A new temporary file for `name` in `folder` holding `bytes`, written
// through to the disk. Returns its path, or empty with `error` set.
std::string WriteTemp(const std::string& folder, const std::string& name, std::string_view bytes,
                      std::string* error) {
  thread_local std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = folder + "\\" + HiddenPrefix(name);
    for (std::size_t i = 0; i < kSuffixLength; ++i) path += kLetters[random() % kLetters.size()];
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      if (error) *error = Reason("Cannot create a file beside", folder + "\\" + name, GetLastError());
      return {};
    }
    bool ok = true;
    while (ok && !bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
      DWORD written = 0;
      ok = WriteFile(file, bytes.data(), chunk, &written, nullptr) && written > 0;
      bytes.remove_prefix(written);
    }
    ok = ok && FlushFileBuffers(file);
    const DWORD failure = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (ok) return path;
    DeleteFileW(Widen(path).c_str());
    if (error) *error = Reason("Cannot write", path, failure);
    return {};
  }
  if (error) *error = "No free temporary name beside \"" + folder + "\\" + name + "\"";
  return {};
}

// Moves the complete temporary file over `path`. ReplaceFileW keeps the old
// file's attributes and security; where it cannot, a write-through move
// replaces the name at once. ReplaceFileW may fail half-way: with 1176 the
// old file is already gone, with 1177 it was renamed away, so the move is
// tried in every case. A temporary file that could not be put in place may
// then be the only copy of the file's content, old or new: it stays, and the
// error names it.
bool Commit(const std::string& temp, const std::string& path, bool exists, std::string* error) {
  const FileReplaceCalls& calls = FileReplaceCallsInUse();
  const std::wstring to = Widen(path);
  const std::wstring from = Widen(temp);
  if (exists &&
      calls.replace(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                    nullptr)) {
    return true;
  }
  if (calls.move(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  if (error) {
    *error = Reason("Cannot replace", path, GetLastError()) + "; the new content is kept in \"" +
             temp + "\"";
  }
  return false;
}

// The file that `path` finally names when it is a symbolic link (or a chain
// of them), as the system resolves it: replacing the link itself would leave
// a plain file in its place and its target stale. A file that cannot be
// opened (a new one) keeps the name as given.
std::string FollowLinks(const std::string& path) {
  const HANDLE file = CreateFileW(Widen(path).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::wstring final(32768, L'\0');
  const DWORD n = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(file);
  if (n == 0 || n >= final.size()) return path;
  final.resize(n);
  // The system names it in its long form: "\\?\C:\..." or "\\?\UNC\server\...".
  if (final.starts_with(L"\\\\?\\UNC\\")) return Narrow(L"\\\\" + final.substr(8));
  if (final.starts_with(L"\\\\?\\")) return Narrow(final.substr(4));
  return Narrow(final);
}

}  // namespace

FileReplaceCalls& FileReplaceCallsInUse() {
  static FileReplaceCalls calls;
  return calls;
}

// Windows has no permission bits of this kind: `mode` is not used.
bool WriteFileAtomically(const std::string& linkOrPath, std::string_view bytes,
                         const std::string& backupPath, std::string* error, unsigned) {
  if (linkOrPath.empty()) {
    if (error) *error = "No file name given";
    return false;
  }
  const std::string path = FollowLinks(linkOrPath);
  WIN32_FILE_ATTRIBUTE_DATA old{};
  const bool exists = GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &old);
  if (exists && (old.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (error) *error = "\"" + path + "\" is not a regular file";
    return false;
  }
  const std::string folder = FolderOf(path);
  // Without the file a leftover may be the only copy of its content (a save
  // that lost the old file and could not move the new one in).
  if (exists) RemoveLeftovers(folder, NameOf(path));
  const std::string temp = WriteTemp(folder, NameOf(path), bytes, error);
  if (temp.empty()) return false;

  // The backup is a copy (CopyFileW keeps the old file's times, so a backup
  // never looks newer than its file), itself moved into place at once.
  if (exists && !backupPath.empty()) {
    const std::string backupFolder = FolderOf(backupPath);
    RemoveLeftovers(backupFolder, NameOf(backupPath));
    std::string reason;
    const std::string copy = WriteTemp(backupFolder, NameOf(backupPath), {}, &reason);
    const bool copied = !copy.empty() && CopyFileW(Widen(path).c_str(), Widen(copy).c_str(), FALSE);
    if (!copy.empty() && !copied) reason = Reason("Cannot copy", path, GetLastError());
    if (!copied || !Commit(copy, backupPath, true, &reason)) {
      // The file itself is untouched and the caller still holds the new
      // content; the copy of the old file is one too many.
      if (!copy.empty()) DeleteFileW(Widen(copy).c_str());
      DeleteFileW(Widen(temp).c_str());
      if (error) *error = "Cannot make the backup: " + reason;
      return false;
    }
  }
  return Commit(temp, path, exists, error);
}

// The file keeps the access list of its folder, which on Windows is the
// user's own profile; there are no permission bits to narrow.
bool WritePrivateFileAtomically(const std::string& path, std::string_view bytes,
                                const std::string& backupPath, std::string* error) {
  return WriteFileAtomically(path, bytes, backupPath, error);
}

}  // namespace sentrel
