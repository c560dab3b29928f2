#include "core/notify_alarm_channels.h"

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
  return sentrel::SendNetMessage(recipient, body, subject, desktop_, messenger_);
}

MailResult NotifyAlarmChannels::RunTransfer(const ROptions& options, const std::string& to,
                                            const std::string& body, const std::string& subject,
                                            std::stop_token stop) {
  std::lock_guard lock(transferMutex_);
  HandOffDesktop desktop(desktop_, ui_, stop);
  const MailContext context{desktop,           mail_.clock,         mail_.dialUp,
                            mail_.transferLog, mail_.programFolder, mail_.replyTimeout};
  MailResult result = sentrel::SendMail(options, context, to, body, subject, stop);
  if (counters_) counters_->CountMailTransfer(result.Accepted());
  return result;
}

MailResult NotifyAlarmChannels::Transfer(const ROptions& options, const std::string& to,
                                         const std::string& body, const std::string& subject) {
  MailResult result;
  result.status = MailStatus::kRetryable;
  result.reason = "transfer aborted";
  transfers_.Run(
      [&](std::stop_token stop) { result = RunTransfer(options, to, body, subject, stop); });
  return result;
}

bool NotifyAlarmChannels::SendMail(const std::string& to, const std::string& body,
                                   const std::string& subject) {
  // A copy: the options dialog may change the options while the mail goes.
  const ROptions options = options_;
  if (!outbox_) return Transfer(options, to, body, subject).Accepted();
  OutboxMessage message;
  message.mail = true;
  message.kind = "mail";
  message.to = to;
  message.body = body;
  message.subject = subject;
  const std::string id = outbox_->Post(std::move(message), true);
  const MailResult result = Transfer(options, to, body, subject);
  // Cut short by leaving: it stays in the outbox for the next start.
  outbox_->Settle(id, Leaving() && !result.Accepted()
                          ? DeliveryOutcome{DeliveryResult::Aborted, result.reason, {}}
                          : MailDeliveryOutcome(result));
  return result.Accepted();
}

MailResult NotifyAlarmChannels::TestMail(const ROptions& options, const std::string& to,
                                         const std::string& body, const std::string& subject) {
  // A test shows its answer now; it is not kept for later.
  return Transfer(options, to, body, subject);
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
