#include "gui/dialogs/mail_test_report.h"

#include "settings/ini_file.h"
#include "settings/language_table.h"

namespace sentrel {

std::string MailTestReport(const MailResult& result, const std::optional<IniFile>& language) {
  const auto text = [&language](const char* key) {
    return CaptionText(language, kOptionsFormSection, key);
  };
  const std::string none = text("MailTestNone");
  const std::string encryption =
      result.encryption == MailEncryption::kNone ? none
                                                 : EncryptionText(result.encryption, result.session);
  if (result.Accepted()) {
    return text("MailTestSent") + "\n" + text("Encryption") + " " + encryption + "\n" +
           text("MailTestAuth") + " " +
           (result.authentication.empty() ? none : result.authentication);
  }
  std::string report = text("MailTestFailed") + " " + result.reason;
  // How far the conversation got, where it got past the clear part.
  if (result.encryption != MailEncryption::kNone) {
    report += "\n" + text("Encryption") + " " + encryption;
  }
  report += "\n" + text(result.status == MailStatus::kRetryable ? "MailTestRetry" : "MailTestFinal");
  return report;
}

}  // namespace sentrel
