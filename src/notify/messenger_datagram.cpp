#include "notify/messenger_datagram.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace sentrel {

namespace {

// Code page 850 bytes for Windows-1252 bytes 0x80..0xFF.
constexpr std::array<uint8_t, 128> kAnsiToOem = {
    0x3F, 0x3F, 0x3F, 0x9F, 0x3F, 0x2E, 0x3F, 0x3F, 0x3F, 0x3F, 0x53, 0x3F, 0x3F, 0x3F, 0x5A, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x20, 0x54, 0x73, 0x3F, 0x3F, 0x3F, 0x7A, 0x59,
    0xFF, 0xAD, 0xBD, 0x9C, 0xCF, 0xBE, 0xDD, 0xF5, 0xF9, 0xB8, 0xA6, 0xAE, 0xAA, 0xF0, 0xA9, 0xEE,
    0xF8, 0xF1, 0xFD, 0xFC, 0xEF, 0xE6, 0xF4, 0xFA, 0xF7, 0xFB, 0xA7, 0xAF, 0xAC, 0xAB, 0xF3, 0xA8,
    0xB7, 0xB5, 0xB6, 0xC7, 0x8E, 0x8F, 0x92, 0x80, 0xD4, 0x90, 0xD2, 0xD3, 0xDE, 0xD6, 0xD7, 0xD8,
    0xD1, 0xA5, 0xE3, 0xE0, 0xE2, 0xE5, 0x99, 0x9E, 0x9D, 0xEB, 0xE9, 0xEA, 0x9A, 0xED, 0xE8, 0xE1,
    0x85, 0xA0, 0x83, 0xC6, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0xD0, 0xA4, 0x95, 0xA2, 0x93, 0xE4, 0x94, 0xF6, 0x9B, 0x97, 0xA3, 0x96, 0x81, 0xEC, 0xE7, 0x98,
};

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

std::string AnsiToOem(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte >= 0x80) c = static_cast<char>(kAnsiToOem[byte - 0x80]);
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
  const std::string destinationName = EncodeNetbiosName(d.destinationName, 0x03);

  std::vector<uint8_t> out;
  out.reserve(14 + 68 + dataOffset + dataLength);
  PutByte(out, 0x10);  // direct unique datagram
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
