#pragma once

#include <cstddef>

// Inside the platform layer: the one system call under WriteAll.
namespace sentrel {

// Writes at most `size` bytes of `data` to `fd` once. Returns the bytes
// written, or -1 with errno set.
long WriteSome(int fd, const char* data, std::size_t size);

}  // namespace sentrel
