#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace sentrel {

// MD5 message digest (RFC 1321), fed in pieces.
class Md5 {
 public:
  Md5();
  void Update(std::string_view bytes);
  // The 16 digest bytes. The object is spent afterwards.
  std::string Final();

 private:
  void Transform(const unsigned char* block);

  std::array<uint32_t, 4> state_;
  uint64_t length_ = 0;  // bytes fed so far
  std::array<unsigned char, 64> buffer_{};
};

// The MD5 digest of `text` as the 16 raw digest bytes (not hex); the bytes
// may include zeros.
std::string Md5Digest(std::string_view text);

// HMAC-MD5 (RFC 2104) of `text` under `key`: 16 raw bytes.
std::string HmacMd5(std::string_view key, std::string_view text);

}  // namespace sentrel
