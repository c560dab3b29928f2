#pragma once

#include <cstdio>
#include <mutex>

#include "core/event_log.h"
#include "platform/desktop.h"

namespace sentrel {

// The desktop of a run without a window: message boxes become lines on
// standard error (a question is answered Yes, so a missing folder is
// created), programs start for real, sounds are announced, not played.
class HeadlessDesktop final : public Desktop {
 public:
  explicit HeadlessDesktop(std::FILE* errors = stderr) : errors_(errors) {}

  MessageResult ShowMessage(const std::string& text, const std::string& caption,
                            MessageIcon icon, MessageButtons buttons) override;
  void PlaySound(const std::string& wavFile, bool loop) override;
  void StopSounds() override;
  void Beep() override;
  void StartProgram(const std::string& program, const std::string& params) override;
  void ShowHelp(int command, int data) override;

 private:
  void Line(const std::string& text);
  std::FILE* errors_;
  std::mutex mutex_;
};

// The log pane of a run without a window: standard output, line-buffered so
// that a supervisor sees each event at once.
class StdoutLogPane final : public LogPane {
 public:
  explicit StdoutLogPane(std::FILE* out = stdout) : out_(out) {}
  void Append(const std::string& text) override;

 private:
  std::FILE* out_;
};

}  // namespace sentrel
