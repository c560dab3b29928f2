#include "common/md5.h"

#include <cstring>

namespace sentrel {

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

constexpr int kShift[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22,
                            5,  9,  14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 5,  9,  14, 20,
                            4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
                            6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::Transform(const unsigned char* block) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    // Words are little-endian whatever the machine's byte order.
    m[i] = static_cast<uint32_t>(block[4 * i]) | static_cast<uint32_t>(block[4 * i + 1]) << 8 |
           static_cast<uint32_t>(block[4 * i + 2]) << 16 |
           static_cast<uint32_t>(block[4 * i + 3]) << 24;
  }
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const uint32_t next = d;
    d = c;
    c = b;
    b = b + RotateLeft(a + f + kSine[i] + m[g], kShift[i]);
    a = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::Update(std::string_view bytes) {
  std::size_t used = static_cast<std::size_t>(length_ % 64);
  length_ += bytes.size();
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t left = bytes.size();
  if (used > 0) {
    const std::size_t take = std::min(left, 64 - used);
    std::memcpy(buffer_.data() + used, data, take);
    used += take;
    data += take;
    left -= take;
    if (used < 64) return;
    Transform(buffer_.data());
  }
  for (; left >= 64; data += 64, left -= 64) Transform(data);
  if (left > 0) std::memcpy(buffer_.data(), data, left);
}

std::string Md5::Final() {
  const uint64_t bits = length_ * 8;
  // Padding: one 1 bit, zeros up to 56 bytes mod 64, then the bit length.
  const std::size_t used = static_cast<std::size_t>(length_ % 64);
  const std::size_t pad = used < 56 ? 56 - used : 120 - used;
  std::string tail(pad + 8, '\0');
  tail[0] = '\x80';
  for (int i = 0; i < 8; ++i) tail[pad + static_cast<std::size_t>(i)] = static_cast<char>(bits >> (8 * i));
  Update(tail);
  std::string digest(16, '\0');
  for (int i = 0; i < 16; ++i) {
    digest[static_cast<std::size_t>(i)] =
        static_cast<char>(state_[static_cast<std::size_t>(i / 4)] >> (8 * (i % 4)));
  }
  return digest;
}

std::string Md5Digest(std::string_view text) {
  Md5 md5;
  md5.Update(text);
  return md5.Final();
}

std::string HmacMd5(std::string_view key, std::string_view text) {
  constexpr std::size_t kBlock = 64;
  std::string k = key.size() > kBlock ? Md5Digest(key) : std::string(key);
  k.resize(kBlock, '\0');
  std::string inner = k, outer = k;
  for (std::size_t i = 0; i < kBlock; ++i) {
    inner[i] = static_cast<char>(inner[i] ^ 0x36);
    outer[i] = static_cast<char>(outer[i] ^ 0x5c);
  }
  Md5 first;
  first.Update(inner);
  first.Update(text);
  Md5 second;
  second.Update(outer);
  second.Update(first.Final());
  return second.Final();
}

}  // namespace sentrel
