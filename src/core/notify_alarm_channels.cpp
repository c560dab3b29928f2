#include "core/notify_alarm_channels.h"

#include <utility>

namespace sentrel {

NotifyAlarmChannels::NotifyAlarmChannels(const ROptions& options, const MailContext& mail,
                                         Desktop& desktop, MessengerSettings messenger)
    : options_(options), mail_(mail), desktop_(desktop), messenger_(std::move(messenger)) {}

void NotifyAlarmChannels::SendNetMessage(const std::string& recipient, const std::string& body,
                                         const std::string& subject) {
  sentrel::SendNetMessage(recipient, body, subject, desktop_, messenger_);
}

void NotifyAlarmChannels::SendMail(const std::string& to, const std::string& body,
                                   const std::string& subject) {
  sentrel::SendMail(options_, mail_, to, body, subject);
}

}  // namespace sentrel
