#pragma once

#include <string>
#include <vector>

#include "core/alarm_channels.h"
#include "fakes/call_log.h"

namespace sentrel::testing {

// Records every message as "net:<recipient>|<subject>|<body>",
// "mail:<to>|<subject>|<body>" or "targets:<event>|<name>...|<subject>", in
// order. Each send reports `handedOn`.
class RecordingChannels final : public AlarmChannels, public CallLog {
 public:
  bool SendNetMessage(const std::string& recipient, const std::string& body,
                      const std::string& subject) override {
    Record("net:" + recipient + "|" + subject + "|" + body);
    return handedOn;
  }
  bool SendMail(const std::string& to, const std::string& body, const std::string& subject) override {
    Record("mail:" + to + "|" + subject + "|" + body);
    return handedOn;
  }

  bool NotifyTargets(const std::vector<std::string>& names, const TargetEvent& event) override {
    std::string line = "targets:" + event.event;
    for (const std::string& name : names) line += "|" + name;
    Record(line + "|" + event.subject);
    return handedOn;
  }

  bool handedOn = true;
};

}  // namespace sentrel::testing
