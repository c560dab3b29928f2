#pragma once

#include <cstdio>
#include <string>

#include "notify/mail_result.h"

namespace sentrel {

// --mail-test ADDRESS: one test message to ADDRESS through the stored mail
// options, dial-up included, with smtp.log when -sl is given.
struct MailTestRequest {
  std::string to;
  std::string programFolder;
  std::FILE* out;
  std::FILE* err;
};

// Prints how the mail went: "sent" with the encryption and authentication
// used (exit code 0), or "not sent" with the reason and whether a later
// attempt may succeed (exit code 1).
int RunMailTest(const MailTestRequest& request);

// The lines RunMailTest prints for `result`.
std::string MailTestLines(const MailResult& result);

}  // namespace sentrel
