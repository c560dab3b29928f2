#pragma once

#include <string>

#include "core/activity_counters.h"
#include "core/alarm_channels.h"
#include "notify/send_mail.h"
#include "notify/send_net_message.h"
#include "platform/desktop.h"
#include "settings/options.h"

namespace sentrel {

// The channels of the program: e-mail through the options' SMTP server and
// the messenger datagram. Every mail transfer, alarm or not, is counted in
// `counters` when given. Every reference must outlive this object.
class NotifyAlarmChannels final : public AlarmChannels {
 public:
  NotifyAlarmChannels(const ROptions& options, const MailContext& mail, Desktop& desktop,
                      MessengerSettings messenger = {}, ActivityCounters* counters = nullptr);

  bool SendNetMessage(const std::string& recipient, const std::string& body,
                      const std::string& subject) override;
  bool SendMail(const std::string& to, const std::string& body,
                const std::string& subject) override;

 private:
  const ROptions& options_;
  const MailContext& mail_;
  Desktop& desktop_;
  MessengerSettings messenger_;
  ActivityCounters* counters_;
};

}  // namespace sentrel
