#pragma once

#include <string>
#include <vector>

#include "notify/target_message.h"

namespace sentrel {

// The notification channels as the alarms and the status message use them,
// with the arguments in the order recipient, body, subject. The program wires
// them to the mail and messenger senders; tests record the calls. Window
// thread only; each returns when its message has gone (or failed), and
// whether the text was handed on (the mail accepted by the server, the
// datagram sent); that is only counted, it never changes what the caller
// does next.
class AlarmChannels {
 public:
  virtual ~AlarmChannels() = default;
  virtual bool SendNetMessage(const std::string& recipient, const std::string& body,
                              const std::string& subject) = 0;
  virtual bool SendMail(const std::string& to, const std::string& body,
                        const std::string& subject) = 0;
  // Hands `event` to each named notification target (through the outbox:
  // returns at once, the messages go out on threads of their own). False
  // when the program has no targets to give them to.
  virtual bool NotifyTargets(const std::vector<std::string>& names, const TargetEvent& event) {
    (void)names;
    (void)event;
    return false;
  }
  // True once the program is leaving: an alarm drops the actions that would
  // follow its mail.
  virtual bool Leaving() const { return false; }
};

}  // namespace sentrel
