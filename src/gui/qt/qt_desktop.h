#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

#include "platform/desktop.h"

namespace sentrel {

class HelpWindow;
class SoundPlayer;

// The desktop of the window program: Qt message boxes owned by the main
// window (alerts stand alone, on top), alarm sounds through the sound player, programs started directly,
// help in the program's own help window. Window thread only.
class QtDesktop final : public Desktop {
 public:
  QtDesktop(SoundPlayer& sound, HelpWindow& help);
  // Closes the alarm boxes still open.
  ~QtDesktop() override;
  QtDesktop(const QtDesktop&) = delete;
  QtDesktop& operator=(const QtDesktop&) = delete;

  // Message boxes are owned by this window once it exists.
  void SetOwner(QWidget* owner) { owner_ = owner; }

  MessageResult ShowMessage(const std::string& text, const std::string& caption,
                            MessageIcon icon, MessageButtons buttons) override;
  void ShowAlert(const std::string& text, const std::string& caption, MessageIcon icon) override;
  // Not modal: the window thread runs no local loop for an alarm's box, so
  // closing one box never waits for another opened after it.
  void OpenAlert(const std::string& text, const std::string& caption, MessageIcon icon,
                 std::function<void()> closed) override;
  void PlaySound(const std::string& wavFile, bool loop) override;
  void StopSounds() override;
  void Beep() override;
  void StartProgram(const std::string& program, const std::string& params) override;
  void ShowHelp(int command, int data) override;

 private:
  SoundPlayer& sound_;
  HelpWindow& help_;
  QPointer<QWidget> owner_;
  std::vector<QPointer<QWidget>> alerts_;  // open alarm boxes
};

}  // namespace sentrel
