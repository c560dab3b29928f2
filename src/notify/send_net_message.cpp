#include "notify/send_net_message.h"

#include <atomic>
#include <ctime>

#include "notify/messenger_datagram.h"
#include "settings/code_page.h"
#include "settings/text_model.h"

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

  RemoteMailslot mailslot(settings.port, settings.broadcastAddress);
  if (!mailslot.Open(recipient)) {
    desktop.ShowMessage("Error", kApplicationTitle, MessageIcon::None);
    return false;
  }
  const std::string computer =
      settings.computerName.empty() ? LocalComputerName() : settings.computerName;

  MailslotDatagram datagram;
  datagram.datagramId = NextDatagramId();
  datagram.sourceAddress = mailslot.LocalAddress();
  // The messenger service reads all three strings, and the names, in one OEM
  // code page: the one that covers the text.
  const std::string text = MessengerText(subject, body);
  const int oem = IsReceiverCodePage(settings.codePage)
                      ? settings.codePage
                      : MessengerCodePage(computer + recipient + text);
  datagram.sourceName = OemNetbiosName(computer, oem);
  datagram.destinationName = OemNetbiosName(recipient, oem);
  datagram.broadcast = recipient == kAllComputers;
  datagram.payload =
      BuildMessengerPayload(TextForCodePage(computer, oem), TextForCodePage(recipient, oem),
                            TextForCodePage(text, oem));
  return mailslot.Write(BuildMailslotDatagram(datagram));
}

}  // namespace sentrel
