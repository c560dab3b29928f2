#include "core/notify_alarm_channels.h"

#include <utility>

#include "core/hand_off_desktop.h"

namespace sentrel {

NotifyAlarmChannels::NotifyAlarmChannels(const ROptions& options, const MailContext& mail,
                                         Desktop& desktop, UiThread& ui, EventLog& log,
                                         MessengerSettings messenger, ActivityCounters* counters)
    : options_(options),
      mail_(mail),
      desktop_(desktop),
      ui_(ui),
      log_(log),
      messenger_(std::move(messenger)),
      counters_(counters),
      transfers_(ui) {}

bool NotifyAlarmChannels::SendNetMessage(const std::string& recipient, const std::string& body,
                                         const std::string& subject) {
  MessengerSettings messenger = messenger_;
  messenger.codePage = options_.NetMessageCodePage;
  return sentrel::SendNetMessage(recipient, body, subject, desktop_, messenger);
}

bool NotifyAlarmChannels::SendMail(const std::string& to, const std::string& body,
                                   const std::string& subject) {
  // A copy: the options dialog may change the options while the mail goes.
  return Transfer(ROptions(options_), to, body, subject).Accepted();
}

MailResult NotifyAlarmChannels::TestMail(const ROptions& options, const std::string& to,
                                         const std::string& body, const std::string& subject) {
  return Transfer(options, to, body, subject);
}

MailResult NotifyAlarmChannels::Transfer(const ROptions& options, const std::string& to,
                                         const std::string& body, const std::string& subject) {
  MailResult result;
  result.status = MailStatus::kRetryable;
  result.reason = "transfer aborted";
  transfers_.Run([&](std::stop_token stop) {
    HandOffDesktop desktop(desktop_, ui_, stop);
    const MailContext context{desktop,           mail_.clock,         mail_.dialUp,
                              mail_.transferLog, mail_.programFolder, mail_.replyTimeout};
    result = sentrel::SendMail(options, context, to, body, subject, stop);
  });
  if (counters_) counters_->CountMailTransfer(result.Accepted());
  return result;
}

void NotifyAlarmChannels::Leave() {
  // Said here, while the log is surely still open: the transfer's caller
  // returns only once the program's windows are going.
  if (transfers_.Closed()) return;
  if (transfers_.Busy()) log_.Write(kTransferAbortedLine);
  transfers_.Close();
}

}  // namespace sentrel
