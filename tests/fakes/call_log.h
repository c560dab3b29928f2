#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace sentrel::testing {

// The calls a fake received, one line each, in order; safe to record from
// many threads.
class CallLog {
 public:
  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 protected:
  void Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace sentrel::testing
