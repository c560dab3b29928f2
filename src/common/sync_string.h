#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace sentrel {

// A string that one thread replaces while another reads it: every Get sees a
// whole value, never one torn by a concurrent Set.
class SyncString {
 public:
  SyncString() = default;
  SyncString(std::string_view text) : text_(text) {}  // NOLINT: plain text converts
  SyncString(const SyncString& other) : text_(other.Get()) {}
  SyncString& operator=(const SyncString& other) {
    if (this != &other) Set(other.Get());
    return *this;
  }

  std::string Get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  void Set(std::string text) {
    std::lock_guard lock(mutex_);
    text_.swap(text);
  }
  bool Empty() const {
    std::lock_guard lock(mutex_);
    return text_.empty();
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace sentrel
