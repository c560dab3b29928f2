#pragma once

#include <string_view>

namespace sentrel {

// What WriteAll does when write() takes none of the bytes and reports no
// error (an odd device or file system may answer so): give up, as a log
// does that must never hold up the work being logged, or ask again.
enum class WhenNothingWritten { GiveUp, TryAgain };

// Writes every byte of `bytes` to `fd`, retrying after signals and short
// writes. Returns 0 when all went out, the errno of the failing write, or
// -1 when a write took nothing and `whenNothing` is GiveUp.
int WriteAll(int fd, std::string_view bytes, WhenNothingWritten whenNothing);

}  // namespace sentrel
