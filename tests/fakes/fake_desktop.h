#pragma once

#include <string>

#include "fakes/call_log.h"
#include "platform/desktop.h"

namespace sentrel::testing {

// Records every desktop call as one line, in order, and answers message boxes
// with a preset result.
class FakeDesktop final : public Desktop, public CallLog {
 public:
  MessageResult answer = MessageResult::Yes;

  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon,
                            MessageButtons buttons) override {
    Record("box:" + caption + ":" + text);
    return buttons == MessageButtons::Ok ? MessageResult::Ok : answer;
  }
  void PlaySound(const std::string& wavFile, bool loop) override {
    Record(std::string(loop ? "sound-loop:" : "sound:") + wavFile);
  }
  void StopSounds() override { Record("stop-sounds"); }
  void Beep() override { Record("beep"); }
  void StartProgram(const std::string& program, const std::string& params) override {
    Record("run:" + program + " " + params);
  }
  void ShowHelp(int command, int data) override {
    Record("help:" + std::to_string(command) + ":" + std::to_string(data));
  }
};

}  // namespace sentrel::testing
