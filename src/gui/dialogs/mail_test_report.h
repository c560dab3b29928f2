#pragma once

#include <optional>
#include <string>

#include "notify/mail_result.h"

namespace sentrel {

class IniFile;

// What the mail test buttons show: that the server accepted the message,
// with the encryption and the authentication used, or why it was not sent
// and whether a later attempt may succeed. The lead texts come from the
// language file (section OptionsForm); the reason stays as the mail code
// words it, as in smtp.log.
std::string MailTestReport(const MailResult& result, const std::optional<IniFile>& language);

}  // namespace sentrel
