#include "core/notify_alarm_channels.h"

#include <memory>
#include <utility>

#include "core/hand_off_desktop.h"
#include "notify/notify_target.h"
#include "platform/registry.h"

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

MailResult NotifyAlarmChannels::RunTransfer(const ROptions& options, const std::string& to,
                                            const std::string& body, const std::string& subject,
                                            std::stop_token stop) {
  // A retry from the outbox and a first attempt from the queue never
  // overlap: they share the dial-up line and the transfer log.
  std::lock_guard lock(transferMutex_);
  HandOffDesktop desktop(desktop_, ui_, stop);
  const MailContext context{desktop,           mail_.clock,         mail_.dialUp,
                            mail_.transferLog, mail_.programFolder, mail_.replyTimeout};
  return sentrel::SendMail(options, context, to, body, subject, stop);
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
        *result = RunTransfer(options, to, body, subject, stop);
        return result->Accepted();
      },
      [this, result, done = std::move(done)](bool) {
        if (counters_) counters_->CountMailTransfer(result->Accepted());
        if (done) done(*result);
      });
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
  const ROptions options = options_;
  if (!outbox_) {
    Transfer(options, to, body, subject, [done = std::move(done)](const MailResult& result) {
      if (done) done(result.Accepted());
    });
    return;
  }
  // Kept in the outbox before its first attempt, which still goes through
  // the queue in the alarm's order; the outbox retries it only after that.
  OutboxMessage message;
  message.mail = true;
  message.kind = "mail";
  message.to = to;
  message.body = body;
  message.subject = subject;
  const std::string id = outbox_->Post(std::move(message), true);
  Transfer(options, to, body, subject,
           [this, id, done = std::move(done)](const MailResult& result) {
             // Cut short or never started for leaving: it stays in the
             // outbox for the next start.
             outbox_->Settle(id, Leaving() && !result.Accepted()
                                     ? DeliveryOutcome{DeliveryResult::Aborted, result.reason, {}}
                                     : MailDeliveryOutcome(result));
             if (done) done(result.Accepted());
           });
}

MailResult NotifyAlarmChannels::TestMail(const ROptions& options, const std::string& to,
                                         const std::string& body, const std::string& subject) {
  // A test shows its answer now; it is not kept for later.
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

DeliveryOutcome MailDeliveryOutcome(const MailResult& result) {
  switch (result.status) {
    case MailStatus::kAccepted: return {DeliveryResult::Delivered, "", {}};
    case MailStatus::kRetryable: return {DeliveryResult::Retry, result.reason, {}};
    case MailStatus::kPermanent: break;
  }
  return {DeliveryResult::GiveUp, result.reason, {}};
}

bool NotifyAlarmChannels::NotifyTargets(const std::vector<std::string>& names,
                                        const TargetEvent& event) {
  if (!outbox_ || names.empty()) return false;
  Registry registry(registryPath_);
  registry.Load();
  for (const std::string& name : names) {
    OutboxMessage message;
    message.target = name;
    const auto target = LoadTarget(registry, name);
    // A name without a target is given up by its lane, with a log line.
    message.kind = target ? target->Kind : "unknown";
    message.event = event;
    outbox_->Post(std::move(message));
  }
  return true;
}

DeliveryOutcome NotifyAlarmChannels::DeliverMail(const OutboxMessage& message,
                                                 std::stop_token stop) {
  // The options as they are now (a corrected server counts), read where
  // they are written.
  ROptions options;
  if (!CallOnUiThread(ui_, [&] { options = options_; }, stop)) {
    return {DeliveryResult::Aborted, "aborted", {}};
  }
  const MailResult result = RunTransfer(options, message.to, message.body, message.subject, stop);
  if (stop.stop_requested() && !result.Accepted()) return {DeliveryResult::Aborted, "aborted", {}};
  if (counters_) counters_->CountMailTransfer(result.Accepted());
  return MailDeliveryOutcome(result);
}

DeliveryOutcome NotifyAlarmChannels::DeliverTarget(const OutboxMessage& message,
                                                   std::stop_token stop) const {
  Registry registry(registryPath_);
  registry.Load();
  return DeliverToTarget(LoadTarget(registry, message.target), message.event, message.id,
                         std::move(stop));
}

void NotifyAlarmChannels::StartOutbox(const std::string& folder, const std::string& registryPath,
                                      Outbox::Finished finished) {
  if (outbox_) return;
  registryPath_ = registryPath;
  Outbox::Settings settings;
  settings.folder = folder;
  settings.deliver = [this](const OutboxMessage& message, std::stop_token stop) {
    return message.mail ? DeliverMail(message, std::move(stop))
                        : DeliverTarget(message, std::move(stop));
  };
  EventLog* log = &log_;
  UiThread* ui = &ui_;
  settings.log = [log, ui](const std::string& line) { ui->Post([log, line] { log->Write(line); }); };
  settings.finished = std::move(finished);
  outbox_ = std::make_unique<Outbox>(std::move(settings));
  outbox_->Start();
}

Outbox::Finished NotificationRecorder(ResultRecorder* recorder) {
  if (!recorder) return {};
  return [recorder](const OutboxMessage& message, const DeliveryOutcome& outcome) {
    const std::string& event = message.event.event;
    if (message.mail || (event != "loss" && event != "renewal")) return;
    const char* arrow = event == "loss" ? "\u2193 " : "\u2191 ";
    const char* mark = outcome.result == DeliveryResult::Delivered ? " \u2713" : " \u2717";
    recorder->RecordNotification({message.event.recordAddress, message.event.name},
                                 arrow + message.target + mark);
  };
}

void NotifyAlarmChannels::Leave() {
  // First the outbox: a retry holding the transfer lock ends, so that the
  // transfer below can be aborted and waited for.
  if (outbox_) outbox_->Stop();
  // Said here, while the log is surely still open: the transfer's caller
  // returns only once the program's windows are going.
  if (transfers_.Closed()) return;
  if (transfers_.Busy()) log_.Write(kTransferAbortedLine);
  transfers_.Close();
}

}  // namespace sentrel
