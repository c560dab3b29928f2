// Fuzz target: the templates of alarm subjects and bodies, expanded with a
// host's texts (from the data file) and its status line, and the mail that
// carries them. Whatever the texts, the header of the mail keeps one line
// per field and the body cannot end the message early.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/alarm.h"
#include "core/host_entry.h"
#include "fuzz_support.h"
#include "notify/mail_message.h"

namespace {

using namespace sentrel;

// A few date and time formats as users' locales give them.
const DateTextFormats kFormats[] = {
    {"%x", "%X"}, {"%d.%m.%Y", "%H:%M:%S"}, {"%m/%d/%y", "%I:%M:%S %p"}, {"%Y-%m-%d", "%T"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::ByteReader input(data, size);
  const uint8_t choice = input.Byte();
  HostEntry host;
  host.HostIP.Set(input.Text());
  host.HostName.Set(input.Text());
  host.StatusStr.Set(input.Text());
  // Any moment from year 1 to year 9999.
  const uint32_t seconds = input.Long();
  host.LastCheck = 1.0 + (input.Long() % 3652059) + seconds % 86400 / 86400.0;
  const std::string subjectTemplate = input.Text();
  const std::string bodyTemplate(input.Rest());
  const DateTextFormats& formats = kFormats[choice % std::size(kFormats)];

  const std::string subject = ExpandSubject(host, subjectTemplate, formats);
  const std::string body = ExpandBody(host, bodyTemplate, formats);
  if (subjectTemplate.empty()) FUZZ_CHECK(subject == kDefaultSubject);
  if (bodyTemplate.empty()) FUZZ_CHECK(body == host.StatusStr.Get());
  // Only the five placeholders are replaced; text without a "%" stays.
  if (!subjectTemplate.empty() && subjectTemplate.find('%') == std::string::npos) {
    FUZZ_CHECK(subject == subjectTemplate);
  }
  if (!bodyTemplate.empty() && bodyTemplate.find('%') == std::string::npos) {
    FUZZ_CHECK(body == bodyTemplate);
  }

  // However the texts multiply each other, the result stays bounded.
  FUZZ_CHECK(body.size() <= std::max(bodyTemplate.size(), kMaxExpandedLength));

  const std::string from = host.HostName.Get(), to = host.HostIP.Get();
  const bool eightBitAnnounced = (choice & 0x80) != 0;
  const std::vector<std::string> lines =
      BuildMessageLines(from, to, subject, "date", body, eightBitAnnounced);
  bool inHeader = true;
  std::size_t headerFields = 0;
  for (const std::string& line : lines) {
    // A line break inside a line would start a header field of its own, or
    // a line of its own in the SMTP stream.
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    // SMTP carries no longer line; a longer body line goes quoted-printable.
    FUZZ_CHECK(line.size() <= kMaxLineBytes || inHeader);
    if (inHeader && line.empty()) inHeader = false;
    // A folded field goes on in lines that begin with a blank.
    if (inHeader && line[0] != ' ' && line[0] != '\t') ++headerFields;
  }
  FUZZ_CHECK(!inHeader);
  // MIME adds its version, content type and transfer encoding.
  const std::size_t mimeFields = NeedsMime(from, to, subject, body) ? 3u : 0u;
  FUZZ_CHECK(headerFields == (subject == kMailNoSubject ? 4u : 5u) + mimeFields);
  return 0;
}
