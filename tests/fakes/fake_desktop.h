#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/desktop.h"

namespace sentrel::testing {

// Records every desktop call as one line, in order, and answers message boxes
// with a preset result.
class FakeDesktop final : public Desktop {
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

  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  void Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace sentrel::testing
