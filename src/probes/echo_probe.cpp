#include "probes/echo_probe.h"

namespace sentrel {

bool EchoProbe::EnsureChannel() {
  if (!icmpHandle_ && context_.library) icmpHandle_ = context_.library->CreateChannel();
  return icmpHandle_ != nullptr;
}

void EchoProbe::ShowMessage(const std::string& text, MessageIcon icon) const {
  if (context_.desktop == nullptr) return;
  Desktop* desktop = context_.desktop;
  auto show = [desktop, &text, icon] { desktop->ShowMessage(text, kApplicationTitle, icon); };
  if (context_.onWindowThread)
    context_.onWindowThread(show);
  else
    show();
}

}  // namespace sentrel
