#include "core/notify_alarm_channels.h"

#include <memory>
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
  return sentrel::SendNetMessage(recipient, body, subject, desktop_, messenger_);
}

bool NotifyAlarmChannels::SendMail(const std::string& to, const std::string& body,
                                   const std::string& subject) {
  struct Outcome {
    bool ended = false;
    bool accepted = false;
  };
  // Shared: the wait below ends early when the program leaves, and the
  // answer may come after this frame has gone.
  auto outcome = std::make_shared<Outcome>();
  StartMail(to, body, subject, [this, outcome](bool accepted) {
    outcome->ended = true;
    outcome->accepted = accepted;
    ui_.Post([] {});  // the waiting loop looks again
  });
  ui_.ServeUntil([&outcome] { return outcome->ended; });
  return outcome->accepted;
}

void NotifyAlarmChannels::StartMail(const std::string& to, const std::string& body,
                                    const std::string& subject,
                                    std::function<void(bool accepted)> done) {
  // A copy: the options dialog may change the options while the mail goes.
  transfers_.Add(
      [this, options = options_, to, body, subject](std::stop_token stop) {
        HandOffDesktop desktop(desktop_, ui_, stop);
        const MailContext context{desktop,           mail_.clock,         mail_.dialUp,
                                  mail_.transferLog, mail_.programFolder, mail_.replyTimeout};
        return sentrel::SendMail(options, context, to, body, subject, stop);
      },
      [this, done = std::move(done)](bool accepted) {
        if (counters_) counters_->CountMailTransfer(accepted);
        if (done) done(accepted);
      });
}

void NotifyAlarmChannels::Leave() {
  // Said here, while the log is surely still open: the transfer's caller
  // returns only once the program's windows are going.
  if (transfers_.Closed()) return;
  if (transfers_.Busy()) log_.Write(kTransferAbortedLine);
  transfers_.Close();
}

}  // namespace sentrel
