#pragma once

#include <cstdint>
#include <string>

#include "platform/desktop.h"
#include "platform/mailslot.h"

namespace sentrel {

struct MessengerSettings {
  // Destination UDP port; tests listen on an unprivileged one.
  uint16_t port = RemoteMailslot::kNetbiosDatagramPort;
  // Sender name in the message; empty = this computer's name.
  std::string computerName;
  // The OEM code page of the receivers (NetMessageCodePage); 0, or one not
  // in kReceiverCodePages: the one that covers each message's text.
  int codePage = 0;
  // Where a message to "*" (every computer of the domain) goes: the
  // network's broadcast address; tests use a loopback one.
  std::string broadcastAddress = "255.255.255.255";
};

// Sends `body` (with "Subj:" + subject in front unless the subject is "###")
// as one messenger datagram to the computer named `recipient`, or to every
// computer of the network when it is "*". An empty recipient does nothing. A recipient that does not resolve shows the plain
// box "Error" through `desktop`. Returns whether the datagram left; mailslot
// writes are never acknowledged, so that is all that can be known. A text too long for the 10,241-byte
// message buffer is cut to fit. Runs on the window thread; keeps no state.
bool SendNetMessage(const std::string& recipient, const std::string& body,
                    const std::string& subject, Desktop& desktop,
                    const MessengerSettings& settings = {});

}  // namespace sentrel
