#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/alarm_channels.h"

namespace sentrel::testing {

// Records every message as "net:<recipient>|<subject>|<body>" or
// "mail:<to>|<subject>|<body>", in order.
class RecordingChannels final : public AlarmChannels {
 public:
  void SendNetMessage(const std::string& recipient, const std::string& body,
                      const std::string& subject) override {
    Record("net:" + recipient + "|" + subject + "|" + body);
  }
  void SendMail(const std::string& to, const std::string& body, const std::string& subject) override {
    Record("mail:" + to + "|" + subject + "|" + body);
  }
  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  void Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace sentrel::testing
