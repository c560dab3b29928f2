#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/date_time.h"

namespace sentrel {

// The subject that stands for "no subject".
inline constexpr std::string_view kMailNoSubject = "###";

// The address inside a sender or recipient text: what stands between the
// first "<" and the first ">" after it, if any, trimmed of blanks and
// control characters. For a recipient item, characters with codes up to 34
// (blank, "!", '"' and controls) are stripped from both ends first. Control
// characters inside the address are dropped, as an address cannot hold them.
std::string ExtractAddress(std::string_view text, bool recipientItem);

// Cuts the next item off a recipient list at the first "," or ";"; the
// separator is dropped. Returns false when `list` was already used up.
bool NextRecipientItem(std::string_view& list, std::string_view& item);

// "Mon, 7 Dec 2026 04:23:56 +0100": `local` with its offset from UTC in
// minutes (east positive), in English.
std::string Rfc5322Date(DateTime local, int utcOffsetMinutes);

// A header value on one line: CR and LF removed, so no value can start a
// header of its own.
std::string HeaderValue(std::string_view text);

// The lines of `text` split at CR LF, bare CR and bare LF; a line break at
// the very end starts no further line.
std::vector<std::string> TextLines(std::string_view text);

// Whether a message needs MIME: the sender, the recipients, the subject
// (unless "###") or the body holds anything outside ASCII.
bool NeedsMime(std::string_view from, std::string_view to, std::string_view subject,
               std::string_view body);

// The message as sent after DATA: From, To, Date, Subject (unless "###"),
// X-mailer, an empty line, then the lines of CR LF + body. A message that
// NeedsMime (its texts are UTF-8) also gets MIME-Version, Content-Type
// text/plain in UTF-8 and a transfer encoding: 8bit when the server
// announced 8BITMIME, else quoted-printable; its subject and the display
// names of From and To become RFC 2047 encoded words. An ASCII message is
// sent as it always was.
std::vector<std::string> BuildMessageLines(std::string_view from, std::string_view to,
                                           std::string_view subject, std::string_view date,
                                           std::string_view body, bool eightBitAnnounced = true);

}  // namespace sentrel
