#include "core/hand_off_desktop.h"

#include <memory>

namespace sentrel {

MessageResult HandOffDesktop::ShowMessage(const std::string& text, const std::string& caption,
                                          MessageIcon icon, MessageButtons buttons) {
  auto answer = std::make_shared<MessageResult>();
  const bool shown = OnUiThread([d = &desktop_, answer, text, caption, icon, buttons] {
    *answer = d->ShowMessage(text, caption, icon, buttons);
  });
  if (shown) return *answer;
  return buttons == MessageButtons::YesNo ? MessageResult::No : MessageResult::Ok;
}

void HandOffDesktop::ShowAlert(const std::string& text, const std::string& caption,
                               MessageIcon icon) {
  OnUiThread([d = &desktop_, text, caption, icon] { d->ShowAlert(text, caption, icon); });
}

void HandOffDesktop::PlaySound(const std::string& wavFile, bool loop) {
  OnUiThread([d = &desktop_, wavFile, loop] { d->PlaySound(wavFile, loop); });
}

void HandOffDesktop::StopSounds() {
  OnUiThread([d = &desktop_] { d->StopSounds(); });
}

void HandOffDesktop::Beep() {
  OnUiThread([d = &desktop_] { d->Beep(); });
}

void HandOffDesktop::StartProgram(const std::string& program, const std::string& params) {
  OnUiThread([d = &desktop_, program, params] { d->StartProgram(program, params); });
}

void HandOffDesktop::ShowHelp(int command, int data) {
  OnUiThread([d = &desktop_, command, data] { d->ShowHelp(command, data); });
}

}  // namespace sentrel
