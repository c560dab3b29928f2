#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "common/clock.h"
#include "notify/dial_up.h"
#include "notify/mail_result.h"
#include "notify/transfer_log.h"
#include "platform/desktop.h"
#include "settings/options.h"

namespace sentrel {

// One mail transfer as MailTransfer runs it.
struct MailTransferRequest {
  std::string from;     // sender text; the address is taken out of it
  std::string to;       // recipients separated by "," or ";"
  std::string subject;  // "###" for none
  std::string server;
  std::string port;     // decimal or a service name
  std::string body;     // sent after the header as it is, its lines ending in CR LF
  std::string user;     // SMTP authentication, both empty for none
  std::string password;
  int32_t security = 0;  // SMTPSecurity: SmtpClient::kSecurityNone ...
  std::string caFile;    // SMTPCAFile
};

// Builds the message and runs one SMTP conversation: sender, the recipients
// in order until one is refused, and the data when the last announced
// recipient was accepted. Accepted() only when the server accepted the
// message; otherwise the result says where it stopped, why, and whether
// another try may succeed.
// Progress and the full conversation go to `log` when it is on. `clock`
// gives the Date header (with the local offset from UTC) and the log times.
// Blocks for the whole conversation; every wait is bounded by
// `replyTimeout` ms and ends soon after `stop` is requested.
MailResult MailTransfer(const MailTransferRequest& request, const TransferLog& log, const Clock& clock,
                  int32_t replyTimeout = 60000, std::stop_token stop = {});

// What SendMail needs of the program around it; built once at start-up.
struct MailContext {
  Desktop& desktop;
  const Clock& clock;
  DialUp& dialUp;
  // The switch "sl" (HasCommandLineSwitch at start-up): write smtp.log.
  bool transferLog = false;
  // smtp.log goes here when the options' log folder does not exist.
  std::string programFolder;
  int32_t replyTimeout = 60000;  // ms, for each SMTP reply line
};

// Sends one notification mail through the SMTP server of `options`: the
// dial-up connect phase when the options ask for it, the transfer, and the
// release phase in every case. `to` holds one or more addresses separated by
// "," or ";", each bare or as `name <address>` (a display name in double
// quotes may hold those separators); `subject` "###" means none. Returns
// how the transfer went (encryption and authentication used, or where and
// why it failed); the conversation shows in smtp.log. Blocks for the whole transfer, dial-up wait included, so the
// program runs it on a helper thread (`context.desktop` then reaches the
// window thread through a hand-off); `stop` cuts the dial-up wait and the
// conversation short.
MailResult SendMail(const ROptions& options, const MailContext& context, const std::string& to,
              const std::string& body, const std::string& subject, std::stop_token stop = {});

}  // namespace sentrel
