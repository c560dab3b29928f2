#pragma once

#include <string>

#include "core/alarm_channels.h"
#include "fakes/call_log.h"

namespace sentrel::testing {

// Records every message as "net:<recipient>|<subject>|<body>" or
// "mail:<to>|<subject>|<body>", in order.
class RecordingChannels final : public AlarmChannels, public CallLog {
 public:
  void SendNetMessage(const std::string& recipient, const std::string& body,
                      const std::string& subject) override {
    Record("net:" + recipient + "|" + subject + "|" + body);
  }
  void SendMail(const std::string& to, const std::string& body, const std::string& subject) override {
    Record("mail:" + to + "|" + subject + "|" + body);
  }
};

}  // namespace sentrel::testing
