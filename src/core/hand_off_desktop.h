#pragma once

#include <stop_token>

#include "core/ui_thread.h"
#include "platform/desktop.h"

namespace sentrel {

// The desktop for a helper thread (a mail transfer's dial-up phase): every
// call runs on the window thread through the blocking hand-off, which is
// given up once `stop` is requested; a box given up counts as answered No
// (Ok for an Ok-only box). A step still running when its caller gave up (a
// box left open) reaches only `desktop`, which must outlive every step.
class HandOffDesktop final : public Desktop {
 public:
  HandOffDesktop(Desktop& desktop, UiThread& ui, std::stop_token stop)
      : desktop_(desktop), ui_(ui), stop_(std::move(stop)) {}

  MessageResult ShowMessage(const std::string& text, const std::string& caption,
                            MessageIcon icon, MessageButtons buttons) override;
  void ShowAlert(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void PlaySound(const std::string& wavFile, bool loop) override;
  void StopSounds() override;
  void Beep() override;
  void StartProgram(const std::string& program, const std::string& params) override;
  void ShowHelp(int command, int data) override;

 private:
  bool OnUiThread(std::function<void()> step) { return CallOnUiThread(ui_, std::move(step), stop_); }

  Desktop& desktop_;
  UiThread& ui_;
  std::stop_token stop_;
};

}  // namespace sentrel
