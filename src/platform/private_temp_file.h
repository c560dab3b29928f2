#pragma once

#include <string>
#include <string_view>

namespace sentrel {

// A temporary file in the per-user run-time folder that only its owner may
// read, holding `text` (for a secret handed to another program by file
// name). Removed when the object goes.
class PrivateTempFile {
 public:
  // `prefix` starts the file's name. On failure Path() is empty and no file
  // is left behind.
  PrivateTempFile(std::string_view prefix, std::string_view text);
  ~PrivateTempFile();
  PrivateTempFile(const PrivateTempFile&) = delete;
  PrivateTempFile& operator=(const PrivateTempFile&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace sentrel
