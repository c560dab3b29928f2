#include "notify/send_net_message.h"

#include <atomic>
#include <ctime>

#include "notify/messenger_datagram.h"

namespace sentrel {

namespace {

uint16_t NextDatagramId() {
  static std::atomic<uint16_t> next{static_cast<uint16_t>(0x4000 + (std::time(nullptr) & 0x3FFF))};
  return next.fetch_add(1);
}

}  // namespace

bool SendNetMessage(const std::string& recipient, const std::string& body,
                    const std::string& subject, Desktop& desktop,
                    const MessengerSettings& settings) {
  if (recipient.empty()) return false;

  RemoteMailslot mailslot(settings.port);
  if (!mailslot.Open(recipient)) {
    desktop.ShowMessage("Error", kApplicationTitle, MessageIcon::None);
    return false;
  }
  const std::string computer =
      settings.computerName.empty() ? LocalComputerName() : settings.computerName;

  MailslotDatagram datagram;
  datagram.datagramId = NextDatagramId();
  datagram.sourceAddress = mailslot.LocalAddress();
  datagram.sourceName = computer;
  datagram.destinationName = recipient;
  // The messenger service reads all three strings in the OEM code page.
  datagram.payload = BuildMessengerPayload(AnsiToOem(computer), AnsiToOem(recipient),
                                           AnsiToOem(MessengerText(subject, body)));
  return mailslot.Write(BuildMailslotDatagram(datagram));
}

}  // namespace sentrel
