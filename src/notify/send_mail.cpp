#include "notify/send_mail.h"

#include <exception>

#include "notify/mail_message.h"
#include "notify/smtp_client.h"

namespace sentrel {

namespace {

// Where a conversation that Open let through stopped, and why.
MailResult Refusal(const SmtpClient& client, MailFailure failure) {
  MailResult result;
  result.failure = client.replyCode == 0 ? MailFailure::kConnection : failure;
  result.replyCode = client.replyCode >= 400 ? client.replyCode : 0;
  result.reason = client.replyCode != 0 ? client.replyLine : "the connection failed";
  return result;
}

}  // namespace

MailResult MailTransfer(const MailTransferRequest& request, const TransferLog& log,
                        const Clock& clock, int32_t replyTimeout, std::stop_token stop) {
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
  client.security = request.security;
  client.caFile = request.caFile;
  MailResult result;
  if (!client.Open()) {
    log.Append("Can't login " + request.user);
    result.failure = client.openFailure;
    result.replyCode = client.replyCode >= 400 ? client.replyCode : 0;
    result.reason = client.openFailureText;
    result.tls = client.TlsFault();
    result.encryption = client.encryption;
    result.status = StatusOfFailure(result.failure, result.replyCode);
    return result;
  }
  log.Append("Login " + request.user);

  // How the text travels depends on whether the server takes 8-bit data.
  const MailMessage message = BuildMessage(request.from, request.to, request.subject, date,
                                           request.body, client.eightBitAnnounced);
  const std::string sender = ExtractAddress(request.from, false);
  if (!client.SendSender(sender, static_cast<int64_t>(MessageSize(message.lines)),
                         message.eightBit)) {
    log.Append("Error MailFrom " + sender);
    result = Refusal(client, MailFailure::kSenderRefused);
  } else {
    log.Append("MailFrom");
    // An empty first item counts as refused; later empty items change nothing.
    bool accepted = false;
    std::string_view list = request.to;
    std::string_view item;
    result = Refusal(client, MailFailure::kRecipientRefused);
    result.reason = "no recipient";
    while (NextRecipientItem(list, item)) {
      const std::string address = ExtractAddress(item, true);
      if (address.empty()) continue;
      accepted = client.SendRecipient(address);
      if (!accepted) {
        log.Append("Error MailTo " + address);
        result = Refusal(client, MailFailure::kRecipientRefused);
        break;
      }
      log.Append("MailTo");
    }
    if (accepted) {
      if (client.SendData(message.lines)) {
        result = MailResult{};
        result.status = MailStatus::kAccepted;
        result.failure = MailFailure::kNone;
      } else {
        result = Refusal(client, MailFailure::kDataRefused);
      }
    }
  }
  result.encryption = client.encryption;
  result.session = client.TlsSession();
  result.authentication = client.authMechanism;
  if (!result.Accepted()) result.status = StatusOfFailure(result.failure, result.replyCode);
  client.Quit();
  log.Append("Logout " + request.user);
  return result;
}

MailResult SendMail(const ROptions& options, const MailContext& context, const std::string& to,
                    const std::string& body, const std::string& subject, std::stop_token stop) {
  MailResult result;
  result.status = MailStatus::kRetryable;
  const TransferLog log = context.transferLog
                              ? TransferLog(TransferLogPath(options.PathToLog, context.programFolder))
                              : TransferLog();
  const DialOutcome outcome = context.dialUp.ConnectPhase(options, context.desktop, log, stop);
  if (outcome == DialOutcome::Failed) result.reason = "the dial-up connection failed";
  if (outcome != DialOutcome::Failed && !stop.stop_requested()) {
    try {
      MailTransferRequest request{options.From,         to,
                                  subject,              options.ServerName,
                                  std::to_string(options.Port), "\r\n" + body,
                                  options.SMTPUsername, options.SMTPPassword,
                                  options.SMTPSecurity, options.SMTPCAFile};
      result = MailTransfer(request, log, context.clock, context.replyTimeout, stop);
    } catch (const std::exception& e) {
      // Out of memory is the one thing that can throw here; the line must
      // still be released.
      log.Append(std::string("Error ") + e.what());
      result.reason = e.what();
    }
  }
  if (stop.stop_requested()) {
    log.Append("transfer aborted");
    if (!result.Accepted()) {
      result.failure = MailFailure::kNotSent;
      result.status = MailStatus::kRetryable;
      result.reason = "transfer aborted";
    }
  }
  context.dialUp.ReleasePhase(options, outcome);
  return result;
}

}  // namespace sentrel
