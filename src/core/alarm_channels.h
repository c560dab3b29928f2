#pragma once

#include <string>

namespace sentrel {

// The notification channels as the alarms and the status message use them,
// with the arguments in the order recipient, body, subject. The program wires
// them to the mail and messenger senders; tests record the calls. Window
// thread only; each returns when its message has gone (or failed).
class AlarmChannels {
 public:
  virtual ~AlarmChannels() = default;
  virtual void SendNetMessage(const std::string& recipient, const std::string& body,
                              const std::string& subject) = 0;
  virtual void SendMail(const std::string& to, const std::string& body,
                        const std::string& subject) = 0;
  // True once the program is leaving: an alarm drops the actions that would
  // follow its mail.
  virtual bool Leaving() const { return false; }
};

}  // namespace sentrel
