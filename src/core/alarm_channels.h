#pragma once

#include <functional>
#include <string>
#include <vector>

#include "notify/mail_result.h"
#include "notify/target_message.h"
#include "settings/options.h"

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
  // Hands `event` to each named notification target (through the outbox:
  // returns at once, the messages go out on threads of their own). False
  // when the program has no targets to give them to.
  virtual bool NotifyTargets(const std::vector<std::string>& names, const TargetEvent& event) {
    (void)names;
    (void)event;
    return false;
  }
  // The mail test of the dialogs: one mail through the SMTP settings of
  // `options` (the values being edited, not yet stored), with the
  // encryption and authentication it used or why it failed. Channels that
  // know no more than SendMail tells report only accepted or not.
  virtual MailResult TestMail(const ROptions& options, const std::string& to,
                              const std::string& body, const std::string& subject) {
    (void)options;
    MailResult result;
    if (SendMail(to, body, subject)) {
      result.status = MailStatus::kAccepted;
      result.failure = MailFailure::kNone;
    }
    return result;
  }
  // True once the program is leaving: an alarm drops the actions that would
  // follow its mail.
  virtual bool Leaving() const { return false; }
};

}  // namespace sentrel
