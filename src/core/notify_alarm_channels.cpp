#include "core/notify_alarm_channels.h"

#include <utility>

namespace sentrel {

NotifyAlarmChannels::NotifyAlarmChannels(const ROptions& options, const MailContext& mail,
                                         Desktop& desktop, MessengerSettings messenger,
                                         ActivityCounters* counters)
    : options_(options),
      mail_(mail),
      desktop_(desktop),
      messenger_(std::move(messenger)),
      counters_(counters) {}

bool NotifyAlarmChannels::SendNetMessage(const std::string& recipient, const std::string& body,
                                         const std::string& subject) {
  return sentrel::SendNetMessage(recipient, body, subject, desktop_, messenger_);
}

bool NotifyAlarmChannels::SendMail(const std::string& to, const std::string& body,
                                   const std::string& subject) {
  const bool accepted = sentrel::SendMail(options_, mail_, to, body, subject);
  if (counters_) counters_->CountMailTransfer(accepted);
  return accepted;
}

}  // namespace sentrel
