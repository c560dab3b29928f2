#pragma once

#include <string>

#include "core/activity_counters.h"
#include "core/alarm_channels.h"
#include "core/event_log.h"
#include "core/transfer_queue.h"
#include "core/ui_thread.h"
#include "notify/send_mail.h"
#include "notify/send_net_message.h"
#include "platform/desktop.h"
#include "settings/options.h"

namespace sentrel {

// The channels of the program: e-mail through the options' SMTP server and
// the messenger datagram. A mail transfer (with its dial-up wait) runs on a
// helper thread and reports back to the window thread, which never waits
// for it; transfers never overlap. Every mail transfer, alarm or not, is
// counted in `counters` when given. Every reference must outlive this object.
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
  // Through the same queue as every other transfer, with `options` in
  // place of the program's; returns when it has ended, serving the window
  // thread meanwhile.
  MailResult TestMail(const ROptions& options, const std::string& to, const std::string& body,
                      const std::string& subject) override;
  bool Leaving() const override { return transfers_.Closed(); }

  // Any thread: the program is leaving. A transfer in progress is aborted
  // within about a tenth of a second (a name lookup runs to its end), which
  // the log says, mails still waiting are dropped and no new one starts.
  // Idempotent.
  void Leave();

 private:
  const ROptions& options_;
  const MailContext& mail_;
  Desktop& desktop_;
  // Queues the transfer; `done` gets its result on the window thread.
  void Transfer(const ROptions& options, const std::string& to, const std::string& body,
                const std::string& subject, std::function<void(const MailResult&)> done);

  UiThread& ui_;
  EventLog& log_;
  MessengerSettings messenger_;
  ActivityCounters* counters_;
  TransferQueue transfers_;  // last: its thread ends before the rest goes
};

// The event log's line for a transfer cut short by leaving the program.
inline constexpr const char* kTransferAbortedLine = "transfer aborted\r\n";

}  // namespace sentrel
