#include "platform/private_temp_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/paths.h"
#include "platform/write_all.h"

namespace sentrel {

PrivateTempFile::PrivateTempFile(std::string_view prefix, std::string_view text) {
  std::string folder = GetRuntimeFolder();
  if (folder.empty()) folder = "/tmp";
  std::string pattern = JoinPath(folder, std::string(prefix) + "XXXXXX");
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return;
  fchmod(fd, 0600);
  const bool written = WriteAll(fd, text, WhenNothingWritten::GiveUp) == 0;
  close(fd);
  if (written) {
    path_ = pattern;
  } else {
    unlink(pattern.c_str());
  }
}

PrivateTempFile::~PrivateTempFile() {
  if (!path_.empty()) unlink(path_.c_str());
}

}  // namespace sentrel
