#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/activity_counters.h"
#include "core/alarm_channels.h"
#include "core/event_log.h"
#include "core/result_recorder.h"
#include "core/transfer_queue.h"
#include "core/ui_thread.h"
#include "notify/outbox.h"
#include "notify/send_mail.h"
#include "notify/send_net_message.h"
#include "platform/desktop.h"
#include "settings/options.h"

namespace sentrel {

// The channels of the program: e-mail through the options' SMTP server, the
// messenger datagram and the notification targets. A mail transfer (with its
// dial-up wait) runs on a helper thread and reports back to the window
// thread, which never waits for it; transfers never overlap. Every mail
// transfer, alarm or not, is counted in `counters` when given. Every
// reference must outlive this object.
//
// Once StartOutbox has run, every mail and target message goes through the
// outbox: a mail is written there before its first attempt, which runs in
// the alarm's order as before, and one that failed for a reason worth it is
// retried from there; target messages are only handed to it.
class NotifyAlarmChannels final : public AlarmChannels {
 public:
  NotifyAlarmChannels(const ROptions& options, const MailContext& mail, Desktop& desktop,
                      UiThread& ui, EventLog& log, MessengerSettings messenger = {},
                      ActivityCounters* counters = nullptr);

  bool SendNetMessage(const std::string& recipient, const std::string& body,
                      const std::string& subject) override;
  // Returns when the transfer has ended or was aborted (false then),
  // serving the window thread meanwhile: for the operator's test mail.
  bool SendMail(const std::string& to, const std::string& body,
                const std::string& subject) override;
  void StartMail(const std::string& to, const std::string& body, const std::string& subject,
                 std::function<void(bool accepted)> done) override;
  bool NotifyTargets(const std::vector<std::string>& names, const TargetEvent& event) override;
  // Through the same queue as every other transfer, with `options` in
  // place of the program's; returns when it has ended, serving the window
  // thread meanwhile.
  MailResult TestMail(const ROptions& options, const std::string& to, const std::string& body,
                      const std::string& subject) override;
  bool Leaving() const override { return transfers_.Closed(); }

  // Window thread, once at start: the outbox in `folder` (created when
  // missing) sends what an earlier run left and everything from now on.
  // Targets are read from the registry at `registryPath` (Registry's own
  // path; "" on Windows is the system's) afresh for every message, so
  // changes made meanwhile, also from the command line, count at once.
  // `delivered` is told of every message that left the outbox (any thread).
  void StartOutbox(const std::string& folder, const std::string& registryPath,
                   Outbox::Finished finished = {});
  // Null before StartOutbox.
  const Outbox* Box() const { return outbox_.get(); }

  // Any thread: the program is leaving. A transfer in progress is aborted
  // within about a tenth of a second (a name lookup runs to its end), which
  // the log says, mails still waiting are dropped and no new one starts;
  // the outbox stops, keeping what it holds for the next start. Idempotent.
  void Leave();

 private:
  // One transfer on the calling thread, first attempt or retry; never two
  // at once.
  MailResult RunTransfer(const ROptions& options, const std::string& to, const std::string& body,
                         const std::string& subject, std::stop_token stop);
  // RunTransfer queued behind the transfers before it; `done` gets its
  // result on the window thread.
  void Transfer(const ROptions& options, const std::string& to, const std::string& body,
                const std::string& subject, std::function<void(const MailResult&)> done);
  DeliveryOutcome DeliverMail(const OutboxMessage& message, std::stop_token stop);
  DeliveryOutcome DeliverTarget(const OutboxMessage& message, std::stop_token stop) const;

  const ROptions& options_;
  const MailContext& mail_;
  Desktop& desktop_;
  UiThread& ui_;
  EventLog& log_;
  MessengerSettings messenger_;
  ActivityCounters* counters_;
  std::string registryPath_;
  std::mutex transferMutex_;
  TransferQueue transfers_;  // its thread ends before the members above go
  std::unique_ptr<Outbox> outbox_;  // last: its lanes use the members above
};

// Notes in `recorder` (when given) every loss and renewal notification that
// left the outbox, for the outage it belongs to: "↓ ops ✓" (loss, delivered),
// "↑ ops ✗" (renewal, given up).
Outbox::Finished NotificationRecorder(ResultRecorder* recorder);

// What a mail transfer's result means for its message in the outbox.
DeliveryOutcome MailDeliveryOutcome(const MailResult& result);

// The event log's line for a transfer cut short by leaving the program.
inline constexpr const char* kTransferAbortedLine = "transfer aborted\r\n";

}  // namespace sentrel
