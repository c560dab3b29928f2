#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

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

// Writes every byte, retrying after signals and short writes. Returns 0 or
// the errno of the failing write.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// An open temporary file that removes itself unless it was committed.
class TempFile {
 public:
  TempFile(const std::string& folder, const std::string& name) {
    std::string pattern = folder + "/." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd_ >= 0) path_.assign(buffer.data());
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  // Flushes and closes; returns 0 or the errno of the failure. A full disk
  // can show up only here on some file systems, so both are checked.
  int FlushAndClose() {
    if (::fsync(fd_) != 0) return errno;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return errno;
    return 0;
  }
  // The file now lives under another name: nothing to remove.
  void Committed() { path_.clear(); }

 private:
  int fd_ = -1;
  std::string path_;
};

// Fills `temp` with `bytes` and flushes it to disk, with permission `mode`.
bool FillTemp(TempFile& temp, const std::string& folder, std::string_view bytes,
              unsigned mode, std::string* error) {
  if (temp.fd() < 0) {
    if (error) *error = Reason("Cannot create a file in", folder, errno);
    return false;
  }
  if (::fchmod(temp.fd(), static_cast<mode_t>(mode)) != 0) {
    if (error) *error = Reason("Cannot set the permissions of", temp.path(), errno);
    return false;
  }
  if (const int err = WriteAll(temp.fd(), bytes); err != 0) {
    if (error) *error = Reason("Cannot write", temp.path(), err);
    return false;
  }
  if (const int err = temp.FlushAndClose(); err != 0) {
    if (error) *error = Reason("Cannot flush", temp.path(), err);
    return false;
  }
  return true;
}

// Renames the flushed `temp` over `target`.
bool Commit(TempFile& temp, const std::string& folder, const std::string& target,
            std::string* error) {
  if (::rename(temp.path().c_str(), target.c_str()) != 0) {
    if (error) *error = Reason("Cannot replace", target, errno);
    return false;
  }
  temp.Committed();
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

bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                         const std::string& backupPath, std::string* error,
                         unsigned mode) {
  if (path.empty()) {
    if (error) *error = "No file name given";
    return false;
  }
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    if (error) *error = "\"" + path + "\" is not a regular file";
    return false;
  }
  const unsigned fileMode = exists ? (old.st_mode & 07777) : (mode & 07777);

  // The new file is complete on disk before anything else changes, so a
  // failed write leaves both the file and its backup as they were.
  const std::string folder = FolderOf(path);
  TempFile temp(folder, NameOf(path));
  if (!FillTemp(temp, folder, bytes, fileMode, error)) return false;

  // The backup is a copy (itself replaced atomically), not a rename, so `path`
  // exists at every moment.
  if (exists && !backupPath.empty()) {
    std::string previous;
    if (const int err = ReadAll(path, &previous); err != 0) {
      if (error) *error = Reason("Cannot read", path, err);
      return false;
    }
    const std::string backupFolder = FolderOf(backupPath);
    TempFile backup(backupFolder, NameOf(backupPath));
    std::string reason;
    if (!FillTemp(backup, backupFolder, previous, fileMode, &reason) ||
        !Commit(backup, backupFolder, backupPath, &reason)) {
      if (error) *error = "Cannot make the backup: " + reason;
      return false;
    }
  }
  return Commit(temp, folder, path, error);
}

}  // namespace sentrel
