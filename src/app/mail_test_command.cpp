#include "app/mail_test_command.h"

#include "app/headless_desktop.h"
#include "common/clock.h"
#include "common/command_line.h"
#include "notify/send_mail.h"
#include "platform/dial_up_lines.h"
#include "platform/registry.h"
#include "platform/sockets.h"
#include "settings/options.h"

namespace sentrel {

std::string MailTestLines(const MailResult& result) {
  if (result.Accepted()) {
    return "sent: the server accepted the test message\nencryption: " +
           EncryptionText(result.encryption, result.session) + "\nauthentication: " +
           (result.authentication.empty() ? "none" : result.authentication) + "\n";
  }
  std::string lines = "not sent: " + result.reason + "\n";
  if (result.replyCode != 0) lines += "reply code: " + std::to_string(result.replyCode) + "\n";
  lines += result.status == MailStatus::kRetryable ? "a later attempt may succeed\n"
                                                   : "this stays so until the settings or the server change\n";
  return lines;
}

int RunMailTest(const MailTestRequest& request) {
  Registry registry;
  std::string warning;
  if (!registry.Load(&warning) || !warning.empty()) {
    std::fprintf(request.err, "sentrel: %s: %s\n", registry.Path().c_str(), warning.c_str());
  }
  ROptions options;
  LoadOptions(options, registry);
  if (!StartSockets()) {
    std::fprintf(request.err, "sentrel: the sockets cannot be started\n");
    return 1;
  }
  SystemClock clock;
  HeadlessDesktop desktop;
  DialUp dialUp{OpenDialUpLines()};
  const MailContext context{desktop, clock, dialUp, HasCommandLineSwitch("sl"),
                            request.programFolder};
  // The texts of the dialogs' test buttons.
  const MailResult result =
      SendMail(options, context, request.to, "Test message from Sentrel!", "Sentrel Test Message");
  StopSockets();
  std::fputs(MailTestLines(result).c_str(), result.Accepted() ? request.out : request.err);
  return result.Accepted() ? 0 : 1;
}

}  // namespace sentrel
