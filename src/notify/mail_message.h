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

// Cuts the next item off a recipient list at the first "," or ";" outside
// a double-quoted display name ("Müller, Jürgen" <jm@x.test> is one item;
// an unclosed quote cuts at the first separator as if it were not there);
// the separator is dropped. Returns false when `list` was already used up.
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

// The longest line SMTP carries, CR LF excluded (RFC 5321).
inline constexpr std::size_t kMaxLineBytes = 998;

// Whether a message needs MIME: the sender, the recipients, the subject
// (unless "###") or the body holds anything outside ASCII, or a body line
// is longer than kMaxLineBytes as sent (its dot stuffing included), which
// only quoted-printable can carry unchanged.
bool HasOverlongLine(std::string_view body);
bool NeedsMime(std::string_view from, std::string_view to, std::string_view subject,
               std::string_view body);

// The message as sent after DATA, and whether it goes as BODY=8BITMIME.
struct MailMessage {
  std::vector<std::string> lines;
  bool eightBit = false;
};

// The message: From, To, Date, Subject (unless "###"), X-mailer, an empty
// line, then the lines of CR LF + body. A message that NeedsMime (its texts
// are UTF-8) also gets MIME-Version, Content-Type text/plain in UTF-8 and a
// transfer encoding: 8bit when the server announced 8BITMIME and no body
// line is too long, else quoted-printable; its subject and the display
// names of From and To become RFC 2047 encoded words, its address lists
// are rebuilt as RFC 5322 lists (items joined by ", ", folded). An ASCII
// message with lines of normal length is sent as it always was, except
// that a header line longer than kMaxLineBytes is folded at its blanks.
MailMessage BuildMessage(std::string_view from, std::string_view to, std::string_view subject,
                         std::string_view date, std::string_view body, bool eightBitAnnounced);
std::vector<std::string> BuildMessageLines(std::string_view from, std::string_view to,
                                           std::string_view subject, std::string_view date,
                                           std::string_view body, bool eightBitAnnounced = true);

// The message's size as SIZE= announces it (RFC 1870): its bytes with a
// CR LF after every line, without dot stuffing and the final dot.
std::size_t MessageSize(const std::vector<std::string>& lines);

}  // namespace sentrel
