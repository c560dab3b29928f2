#pragma once

#include <atomic>

namespace sentrel {

// A plain value that one thread may write while others read it, without a
// data race. Reads and writes are single relaxed atomic operations; copying
// copies the current value, so records holding it stay copyable.
template <typename T>
class RelaxedAtomic {
 public:
  RelaxedAtomic() = default;
  RelaxedAtomic(T value) : value_(value) {}  // NOLINT: stands in for a plain T
  RelaxedAtomic(const RelaxedAtomic& other) : value_(other.Load()) {}
  RelaxedAtomic& operator=(const RelaxedAtomic& other) {
    Store(other.Load());
    return *this;
  }
  RelaxedAtomic& operator=(T value) {
    Store(value);
    return *this;
  }
  operator T() const { return Load(); }  // NOLINT: reads like a plain T

  T Load() const { return value_.load(std::memory_order_relaxed); }
  void Store(T value) { value_.store(value, std::memory_order_relaxed); }

 private:
  std::atomic<T> value_{};
};

}  // namespace sentrel
