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
  MessengerSettings messenger = messenger_;
  messenger.codePage = options_.NetMessageCodePage;
  return sentrel::SendNetMessage(recipient, body, subject, desktop_, messenger);
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
  Transfer(ROptions(options_), to, body, subject,
           [done = std::move(done)](const MailResult& result) {
             if (done) done(result.Accepted());
           });
}

MailResult NotifyAlarmChannels::TestMail(const ROptions& options, const std::string& to,
                                         const std::string& body, const std::string& subject) {
  struct Outcome {
    bool ended = false;
    MailResult result;
  };
  auto outcome = std::make_shared<Outcome>();
  outcome->result.status = MailStatus::kRetryable;
  outcome->result.reason = "transfer aborted";
  Transfer(options, to, body, subject, [this, outcome](const MailResult& result) {
    outcome->ended = true;
    outcome->result = result;
    ui_.Post([] {});
  });
  ui_.ServeUntil([&outcome] { return outcome->ended; });
  return outcome->result;
}

void NotifyAlarmChannels::Transfer(const ROptions& options, const std::string& to,
                                   const std::string& body, const std::string& subject,
                                   std::function<void(const MailResult&)> done) {
  // Filled on the transfer's thread, read on the window thread once it has
  // reported back.
  auto result = std::make_shared<MailResult>();
  result->status = MailStatus::kRetryable;
  result->reason = "transfer aborted";
  transfers_.Add(
      [this, result, options, to, body, subject](std::stop_token stop) {
        HandOffDesktop desktop(desktop_, ui_, stop);
        const MailContext context{desktop,           mail_.clock,         mail_.dialUp,
                                  mail_.transferLog, mail_.programFolder, mail_.replyTimeout};
        *result = sentrel::SendMail(options, context, to, body, subject, stop);
        return result->Accepted();
      },
      [this, result, done = std::move(done)](bool) {
        if (counters_) counters_->CountMailTransfer(result->Accepted());
        if (done) done(*result);
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
