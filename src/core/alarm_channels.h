#pragma once

#include <string>

namespace sentrel {

// The notification channels as the alarms and the status message use them,
// with the arguments in the order recipient, body, subject. The program wires
// them to the mail and messenger senders; tests record the calls. Window
// thread only. Each returns whether the text was handed on (the mail
// accepted by the server, the datagram sent); that is only counted, it
// never changes what the caller does next.
class AlarmChannels {
 public:
  virtual ~AlarmChannels() = default;
  virtual bool SendNetMessage(const std::string& recipient, const std::string& body,
                              const std::string& subject) = 0;
  virtual bool SendMail(const std::string& to, const std::string& body,
                        const std::string& subject) = 0;
};

}  // namespace sentrel
