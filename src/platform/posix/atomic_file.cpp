#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/write_all.h"

namespace sentrel {

namespace {

std::string Reason(const std::string& what, const std::string& file, int err) {
  return what + " \"" + file + "\": " + std::strerror(err);
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether a descriptor can be given a name later through /proc (needed to
// link a file opened with O_TMPFILE; without /proc only root could).
bool CanNameDescriptors() {
  static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
  return usable;
}

// A temporary file's hidden name beside its target: ".NAME.XXXXXX", each X
// one of kLetters.
constexpr std::string_view kLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixLength = 6;

std::string HiddenPrefix(const std::string& name) { return "." + name + "."; }

// A new hidden name for `name` in `folder`, its letters drawn at random.
std::string HiddenName(const std::string& folder, const std::string& name) {
  thread_local std::mt19937 random{std::random_device{}()};
  std::string path = folder + "/" + HiddenPrefix(name);
  for (std::size_t i = 0; i < kSuffixLength; ++i) {
    path += kLetters[random() % kLetters.size()];
  }
  return path;
}

// Makes something under a hidden name for `name` in `folder`: `make(path)`
// is tried with new names while the one it tried was taken. Returns the
// name it succeeded with, or an empty string with errno from its last try.
template <typename Make>
std::string AtFreeHiddenName(const std::string& folder, const std::string& name, Make make) {
  for (int attempt = 0;; ++attempt) {
    std::string path = HiddenName(folder, name);
    if (make(path)) return path;
    if (errno != EEXIST || attempt == 100) return {};
  }
}

// Removes the temporary files of `name` that an earlier writer, killed
// before it could rename or remove one, left in `folder`. The writers of one
// file never run at once (the program's single-instance lock, the
// registry's own lock), so none of these is in use.
void RemoveLeftovers(const std::string& folder, const std::string& name) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const std::string prefix = HiddenPrefix(name);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view found = entry->d_name;
    if (found.size() != prefix.size() + kSuffixLength || !found.starts_with(prefix)) continue;
    if (found.substr(prefix.size()).find_first_not_of(kLetters) == std::string_view::npos)
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

// An open temporary file in the target's folder that goes away unless it
// was committed. Where the file system allows, it has no name at all until
// its content is complete on disk (O_TMPFILE), so a writer that is killed
// half-way leaves nothing behind; it is named only for the rename over the
// target. Elsewhere it is a hidden ".NAME.XXXXXX" file from the start, which
// a killed writer leaves (nothing reads such a file).
class TempFile {
 public:
  TempFile(const std::string& folder, const std::string& name) : folder_(folder), name_(name) {
    if (CanNameDescriptors()) {
      fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
      if (fd_ >= 0) return;
      // No O_TMPFILE on this file system (or a missing folder, which the
      // named file below reports as well).
    }
    path_ = AtFreeHiddenName(folder, name, [this](const std::string& path) {
      fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      return fd_ >= 0;
    });
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  // The name to report: the hidden name, or the folder while it has none.
  const std::string& where() const { return path_.empty() ? folder_ : path_; }

  // Flushes the content to disk; returns 0 or the errno of the failure. A
  // full disk can show up only when a named file is closed on some file
  // systems, so that is checked too.
  int Flush() {
    if (::fsync(fd_) != 0) return errno;
    if (path_.empty()) return 0;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return errno;
    return 0;
  }

  // Renames the flushed file over `target`; returns 0 or the errno of the
  // failure (the temporary file is then removed).
  int ReplaceTarget(const std::string& target) {
    if (path_.empty()) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      path_ = AtFreeHiddenName(folder_, name_, [&self](const std::string& path) {
        return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
      });
      if (path_.empty()) return errno;
    }
    if (::rename(path_.c_str(), target.c_str()) != 0) return errno;
    path_.clear();  // the file now lives under the target's name
    return 0;
  }

 private:
  std::string folder_;
  std::string name_;
  int fd_ = -1;
  std::string path_;  // its current name; empty while it has none
};

// Fills `temp` with `bytes` and flushes it to disk, with permission `mode`
// and, when given, the access and modification times `times`.
bool FillTemp(TempFile& temp, const std::string& folder, std::string_view bytes,
              unsigned mode, const timespec* times, std::string* error) {
  if (temp.fd() < 0) {
    if (error) *error = Reason("Cannot create a file in", folder, errno);
    return false;
  }
  if (::fchmod(temp.fd(), static_cast<mode_t>(mode)) != 0) {
    if (error) *error = Reason("Cannot set the permissions of", temp.where(), errno);
    return false;
  }
  if (const int err = WriteAll(temp.fd(), bytes, WhenNothingWritten::TryAgain); err != 0) {
    if (error) *error = Reason("Cannot write", temp.where(), err);
    return false;
  }
  if (times != nullptr && ::futimens(temp.fd(), times) != 0) {
    if (error) *error = Reason("Cannot set the times of", temp.where(), errno);
    return false;
  }
  if (const int err = temp.Flush(); err != 0) {
    if (error) *error = Reason("Cannot flush", temp.where(), err);
    return false;
  }
  return true;
}

// Renames the flushed `temp` over `target`.
bool Commit(TempFile& temp, const std::string& folder, const std::string& target,
            std::string* error) {
  if (const int err = temp.ReplaceTarget(target); err != 0) {
    if (error) *error = Reason("Cannot replace", target, err);
    return false;
  }
  // Makes the new name durable. Some file systems cannot sync a folder; the
  // file itself is already on disk, so that is not a failure of the save.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// Reads a whole file; returns 0 or the errno of the failure.
// The file that `path` finally names when it is a symbolic link (or a chain
// of them): renaming over the link itself would replace it by a plain file
// and leave its target stale. Empty with `error` set for a loop or a link
// that cannot be read.
std::string FollowLinks(const std::string& path, std::string* error) {
  constexpr int kMaxLinks = 40;  // as the system's own path walk allows
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat link {};
    if (::lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return current;
    std::string target(static_cast<std::size_t>(link.st_size > 0 ? link.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
      if (error) *error = Reason("Cannot read the link", current, n < 0 ? errno : ENAMETOOLONG);
      return {};
    }
    target.resize(static_cast<std::size_t>(n));
    current = target.front() == '/' ? target : FolderOf(current) + "/" + target;
  }
  if (error) *error = Reason("Cannot follow the link", path, ELOOP);
  return {};
}

int ReadAll(const std::string& path, std::string* bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return err;
    }
    if (n == 0) break;
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return 0;
}

}  // namespace

namespace {

bool WriteAtomically(const std::string& linkOrPath, std::string_view bytes,
                     const std::string& backupPath, std::string* error, unsigned mode,
                     bool keepOldMode) {
  if (linkOrPath.empty()) {
    if (error) *error = "No file name given";
    return false;
  }
  const std::string path = FollowLinks(linkOrPath, error);
  if (path.empty()) return false;
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    if (error) *error = "\"" + path + "\" is not a regular file";
    return false;
  }
  const unsigned fileMode = exists && keepOldMode ? (old.st_mode & 07777) : (mode & 07777);

  // The new file is complete on disk before anything else changes, so a
  // failed write leaves both the file and its backup as they were.
  const std::string folder = FolderOf(path);
  RemoveLeftovers(folder, NameOf(path));
  TempFile temp(folder, NameOf(path));
  if (!FillTemp(temp, folder, bytes, fileMode, nullptr, error)) return false;

  // The backup is a copy (itself replaced atomically), not a rename, so `path`
  // exists at every moment. The copy keeps the old file's times: a backup
  // never looks newer than the file it was taken from, also when the writer
  // dies between making it and replacing the file.
  if (exists && !backupPath.empty()) {
    std::string previous;
    if (const int err = ReadAll(path, &previous); err != 0) {
      if (error) *error = Reason("Cannot read", path, err);
      return false;
    }
    const std::string backupFolder = FolderOf(backupPath);
    RemoveLeftovers(backupFolder, NameOf(backupPath));
    TempFile backup(backupFolder, NameOf(backupPath));
    std::string reason;
    const timespec times[2] = {old.st_atim, old.st_mtim};
    if (!FillTemp(backup, backupFolder, previous, fileMode, times, &reason) ||
        !Commit(backup, backupFolder, backupPath, &reason)) {
      if (error) *error = "Cannot make the backup: " + reason;
      return false;
    }
  }
  return Commit(temp, folder, path, error);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                         const std::string& backupPath, std::string* error, unsigned mode) {
  return WriteAtomically(path, bytes, backupPath, error, mode, true);
}

bool WritePrivateFileAtomically(const std::string& path, std::string_view bytes,
                                const std::string& backupPath, std::string* error) {
  return WriteAtomically(path, bytes, backupPath, error, 0600, false);
}

}  // namespace sentrel
