#include "notify/send_mail.h"

#include <exception>

#include "notify/mail_message.h"
#include "notify/smtp_client.h"

namespace sentrel {

bool MailTransfer(const MailTransferRequest& request, const TransferLog& log, const Clock& clock,
                  int32_t replyTimeout, std::stop_token stop) {
  SmtpClient client(clock);
  client.SetStopToken(std::move(stop));
  if (log.Enabled()) {
    client.logMode = 2;
    client.logFile = log.Path();
  }
  const DateTime now = clock.Now();
  const std::string date =
      Rfc5322Date(now, LocalUtcOffsetMinutes(ToUnixTimeLocal(now)));

  log.Append("====" + FormatLocalDateTime(now) + "====");
  log.Append("Server IP " + request.server);
  log.Append("Port " + request.port);

  client.host = request.server;
  client.port = request.port;
  client.user = request.user;
  client.password = request.password;
  client.replyTimeout = replyTimeout;
  if (!client.Open()) {
    log.Append("Can't login " + request.user);
    return false;
  }
  log.Append("Login " + request.user);

  // How the text travels depends on whether the server takes 8-bit data.
  const std::vector<std::string> lines = BuildMessageLines(
      request.from, request.to, request.subject, date, request.body, client.eightBitAnnounced);
  const bool eightBitBody =
      NeedsMime(request.from, request.to, request.subject, request.body) &&
      client.eightBitAnnounced;
  bool sent = false;
  const std::string sender = ExtractAddress(request.from, false);
  if (!client.SendSender(sender, static_cast<int64_t>(request.body.size()), eightBitBody)) {
    log.Append("Error MailFrom " + sender);
  } else {
    log.Append("MailFrom");
    // An empty first item counts as refused; later empty items change nothing.
    bool accepted = false;
    std::string_view list = request.to;
    std::string_view item;
    while (NextRecipientItem(list, item)) {
      const std::string address = ExtractAddress(item, true);
      if (address.empty()) continue;
      accepted = client.SendRecipient(address);
      if (!accepted) {
        log.Append("Error MailTo " + address);
        break;
      }
      log.Append("MailTo");
    }
    if (accepted) sent = client.SendData(lines);
  }
  client.Quit();
  log.Append("Logout " + request.user);
  return sent;
}

bool SendMail(const ROptions& options, const MailContext& context, const std::string& to,
              const std::string& body, const std::string& subject, std::stop_token stop) {
  bool accepted = false;
  const TransferLog log = context.transferLog
                              ? TransferLog(TransferLogPath(options.PathToLog, context.programFolder))
                              : TransferLog();
  const DialOutcome outcome = context.dialUp.ConnectPhase(options, context.desktop, log, stop);
  if (outcome != DialOutcome::Failed && !stop.stop_requested()) {
    try {
      accepted = MailTransfer({options.From, to, subject, options.ServerName,
                               std::to_string(options.Port), "\r\n" + body, options.SMTPUsername,
                               options.SMTPPassword},
                              log, context.clock, context.replyTimeout, stop);
    } catch (const std::exception& e) {
      // Out of memory is the one thing that can throw here; the line must
      // still be released.
      log.Append(std::string("Error ") + e.what());
    }
  }
  if (stop.stop_requested()) log.Append("transfer aborted");
  context.dialUp.ReleasePhase(options, outcome);
  return accepted;
}

}  // namespace sentrel
