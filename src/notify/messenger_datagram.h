#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// The messenger payload is at most this long, zero bytes included.
inline constexpr std::size_t kMessengerBufferSize = 10241;

// The subject that stands for "no subject".
inline constexpr std::string_view kNoSubject = "###";

// The text part: "Subj:" + subject + CR LF CR LF before the body, unless the
// subject is "###".
std::string MessengerText(std::string_view subject, std::string_view body);

// sender \0 recipient \0 text \0, each string ending at its first zero byte
// if it holds one. A text that would make the payload longer than
// kMessengerBufferSize is cut to fit; should sender and recipient alone not
// fit, the recipient is cut too.
std::string BuildMessengerPayload(std::string_view sender, std::string_view recipient,
                                  std::string_view text);

// The OEM code page that the messenger service reads: of 850 (Western
// European), 437 (US) and 866 (Cyrillic), the one that lacks the fewest of
// the characters of the UTF-8 `text`; 850 when they all cover it. The text
// goes out through TextForCodePage (text_model.h).
int MessengerCodePage(std::string_view text);

// A computer name for EncodeNetbiosName: the UTF-8 `name` upper-cased and
// in the OEM `code_page`, as NetBIOS names are compared in capitals.
std::string OemNetbiosName(std::string_view name, int code_page);

// A NetBIOS name in its wire form (RFC 1001): length byte 32, the name
// (OEM bytes) with ASCII letters upper-cased, padded with blanks (or cut) to
// 15 bytes plus `suffix`, each byte as two letters 'A' + nibble, and a
// closing zero: 34 bytes.
std::string EncodeNetbiosName(std::string_view name, uint8_t suffix);

inline constexpr std::string_view kMessengerMailslot = "\\MAILSLOT\\MESSNGR";

struct MailslotDatagram {
  uint16_t datagramId = 0;
  uint32_t sourceAddress = 0;  // network byte order
  std::string sourceName;      // this computer
  std::string destinationName; // the recipient computer
  std::string payload;
  // To every computer of the network (recipient "*"): a broadcast datagram
  // to the wildcard name; destinationName is not used.
  bool broadcast = false;
};

// The UDP payload of a remote mailslot write: a NetBIOS direct unique
// datagram (RFC 1002) carrying an SMB transaction that writes `payload` to
// \MAILSLOT\MESSNGR. The payload must not exceed kMessengerBufferSize.
std::vector<uint8_t> BuildMailslotDatagram(const MailslotDatagram& datagram);

}  // namespace sentrel
