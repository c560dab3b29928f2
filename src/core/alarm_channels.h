#pragma once

#include <functional>
#include <string>

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
  // The mail of an alarm or the status message: starts the transfer and
  // returns; `done` runs on the window thread with whether the mail was
  // accepted once the transfer has ended (or was dropped for leaving). A
  // channel whose SendMail never waits may keep this default.
  virtual void StartMail(const std::string& to, const std::string& body,
                         const std::string& subject, std::function<void(bool accepted)> done) {
    const bool accepted = SendMail(to, body, subject);
    if (done) done(accepted);
  }
  // True once the program is leaving: an alarm drops the actions that would
  // follow its mail.
  virtual bool Leaving() const { return false; }
};

}  // namespace sentrel
