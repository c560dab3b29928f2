#include "notify/messenger_datagram.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "settings/code_page.h"
#include "settings/utf8_text.h"

namespace sentrel {

namespace {

// The OEM code pages that the messenger service may read, the usual one of
// Western Europe first.
constexpr int kOemCodePages[] = {850, 437, 866};

// The upper-case letter of `c` for the Latin-1 and Cyrillic letters; every
// other character is its own.
char32_t UpperLetter(char32_t c) {
  if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
      (c >= 0x430 && c <= 0x44F)) {
    return c - 0x20;
  }
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

std::string_view UpToZero(std::string_view text) { return text.substr(0, text.find('\0')); }

void PutByte(std::vector<uint8_t>& out, unsigned value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
}
void PutBigEndian16(std::vector<uint8_t>& out, unsigned value) {
  PutByte(out, value >> 8);
  PutByte(out, value);
}
void PutLittleEndian16(std::vector<uint8_t>& out, unsigned value) {
  PutByte(out, value);
  PutByte(out, value >> 8);
}
void PutText(std::vector<uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

std::string MessengerText(std::string_view subject, std::string_view body) {
  std::string text;
  if (subject != kNoSubject) {
    text = "Subj:";
    text += subject;
    text += "\r\n\r\n";
  }
  text += body;
  return text;
}

std::string BuildMessengerPayload(std::string_view sender, std::string_view recipient,
                                  std::string_view text) {
  sender = UpToZero(sender);
  recipient = UpToZero(recipient);
  text = UpToZero(text);
  // Three terminating zero bytes always fit; the sender keeps priority, then
  // the recipient, then the text.
  std::size_t room = kMessengerBufferSize - 3;
  sender = sender.substr(0, room);
  room -= sender.size();
  recipient = recipient.substr(0, room);
  room -= recipient.size();
  text = text.substr(0, room);

  std::string payload;
  payload.reserve(sender.size() + recipient.size() + text.size() + 3);
  payload.append(sender).push_back('\0');
  payload.append(recipient).push_back('\0');
  payload.append(text).push_back('\0');
  return payload;
}

int MessengerCodePage(std::string_view text) {
  const std::u32string characters = Utf8CodePoints(text);
  int best = kOemCodePages[0];
  std::size_t fewestMissing = characters.size() + 1;
  for (const int code_page : kOemCodePages) {
    const auto missing = static_cast<std::size_t>(
        std::count_if(characters.begin(), characters.end(),
                      [code_page](char32_t c) { return !CodePageByte(code_page, c); }));
    if (missing < fewestMissing) best = code_page, fewestMissing = missing;
  }
  return best;
}

std::string OemNetbiosName(std::string_view name, int code_page) {
  std::string out;
  out.reserve(name.size());
  for (const char32_t c : Utf8CodePoints(name)) {
    // A letter whose capital the code page lacks stays small rather than become "?".
    const auto byte = CodePageByte(code_page, UpperLetter(c));
    out.push_back(byte ? *byte : CodePageByte(code_page, c).value_or('?'));
  }
  return out;
}

std::string EncodeNetbiosName(std::string_view name, uint8_t suffix) {
  std::string raw(name.substr(0, 15));
  for (char& c : raw) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  raw.resize(15, ' ');
  raw.push_back(static_cast<char>(suffix));

  std::string encoded;
  encoded.push_back(32);
  for (const char c : raw) {
    const auto byte = static_cast<uint8_t>(c);
    encoded.push_back(static_cast<char>('A' + (byte >> 4)));
    encoded.push_back(static_cast<char>('A' + (byte & 0x0F)));
  }
  encoded.push_back('\0');
  return encoded;
}

std::vector<uint8_t> BuildMailslotDatagram(const MailslotDatagram& d) {
  constexpr unsigned kSmbHeaderSize = 32;
  constexpr unsigned kWordCount = 17;
  const std::string name = std::string(kMessengerMailslot) + '\0';
  const auto dataLength = static_cast<unsigned>(std::min(d.payload.size(), kMessengerBufferSize));
  // From the SMB header to the data: header, word count, words, byte count, name.
  const unsigned dataOffset = kSmbHeaderSize + 1 + 2 * kWordCount + 2 +
                              static_cast<unsigned>(name.size());
  const std::string sourceName = EncodeNetbiosName(d.sourceName, 0x00);
  // A broadcast goes to the wildcard name, "*" padded with zero bytes.
  const std::string destinationName =
      d.broadcast ? EncodeNetbiosName(std::string(1, '*') + std::string(15, '\0'), 0x00)
                  : EncodeNetbiosName(d.destinationName, 0x03);

  std::vector<uint8_t> out;
  out.reserve(14 + 68 + dataOffset + dataLength);
  PutByte(out, d.broadcast ? 0x12 : 0x10);  // broadcast or direct unique datagram
  PutByte(out, 0x02);  // first fragment, sent by a B node
  PutBigEndian16(out, d.datagramId);
  // The address is already in network byte order: copy its bytes as they lie.
  uint8_t address[4];
  std::memcpy(address, &d.sourceAddress, sizeof address);
  out.insert(out.end(), address, address + 4);
  PutBigEndian16(out, 138);
  PutBigEndian16(out, static_cast<unsigned>(sourceName.size() + destinationName.size()) +
                          dataOffset + dataLength);
  PutBigEndian16(out, 0);  // packet offset
  PutText(out, sourceName);
  PutText(out, destinationName);

  PutText(out, "\xFFSMB");
  PutByte(out, 0x25);  // transaction
  out.resize(out.size() + kSmbHeaderSize - 5, 0);
  PutByte(out, kWordCount);
  const unsigned words[kWordCount] = {
      0, dataLength,  // total parameter and data counts
      0, 0,           // maximum parameter and data counts
      0,              // maximum setup count, reserved
      0,              // flags
      0, 0,           // time-out
      0,              // reserved
      0, 0,           // parameter count and offset
      dataLength, dataOffset,
      3,  // setup count, reserved
      1,  // mailslot write
      0,  // priority
      2,  // unreliable, no reply expected
  };
  for (const unsigned w : words) PutLittleEndian16(out, w);
  PutLittleEndian16(out, static_cast<unsigned>(name.size()) + dataLength);
  PutText(out, name);
  out.insert(out.end(), d.payload.begin(), d.payload.begin() + dataLength);
  return out;
}

}  // namespace sentrel
