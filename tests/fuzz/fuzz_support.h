#pragma once

// What the fuzz targets share: a reader that cuts the fuzzer's bytes into
// the pieces a target needs, a check that stops the run with a reason, and a
// scratch folder for the readers that take a file.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

namespace sentrel::fuzz {

// A failed property is a finding like a sanitizer report: the run stops and
// libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::sentrel::fuzz::Fail(__FILE__, __LINE__, #condition))

// Takes the input front to back. Past the end every piece is empty or zero,
// so a short input is a valid input with defaults.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  uint8_t Byte() {
    if (rest_.empty()) return 0;
    const auto byte = static_cast<uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return byte;
  }
  uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  uint32_t Long() { return static_cast<uint32_t>(Word()) << 16 | Word(); }

  // A text of one length byte (cut to `limit`) and that many bytes.
  std::string Text(std::size_t limit = 255) {
    const std::size_t wanted = Byte();
    return std::string(Take(wanted < limit ? wanted : limit));
  }
  // Up to `count` bytes as they are.
  std::string_view Take(std::size_t count) {
    const std::string_view piece = rest_.substr(0, count);
    rest_.remove_prefix(piece.size());
    return piece;
  }
  std::string_view Rest() const { return rest_; }
  bool Empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

// A folder of this process for files the targets write and read again, on a
// memory file system where there is one (the readers' cost is then the
// parsing, not the disk). Removed when the process ends normally.
inline const std::string& ScratchFolder() {
  // Kept for the whole process (never destroyed), so the clean-up at exit
  // can still name it.
  static const std::string* const folder = [] {
    std::string base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
      base = tmp;
    } else if (::access("/dev/shm", W_OK) == 0) {
      base = "/dev/shm";
    }
    std::string pattern = base + "/sentrel-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("sentrel fuzz: no scratch folder");
      std::abort();
    }
    auto* kept = new std::string(pattern);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchFolder(), ec);
    });
    return kept;
  }();
  return *folder;
}

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void WriteWhole(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "sentrel fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace sentrel::fuzz
