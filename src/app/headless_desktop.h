#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "core/event_log.h"
#include "platform/desktop.h"

namespace sentrel {

// Where an unattended run (a service) keeps its message boxes' lines: true
// when kept, else they go to standard error after all.
using UnattendedMessages = std::function<bool(MessageIcon icon, const std::string& line)>;

// The desktop of a run without a window: message boxes become lines on
// standard error (a question is answered Yes, so a missing folder is
// created), programs start for real, sounds are announced, not played.
// With `unattended` the lines go there instead, for a run whose standard
// error nobody reads; a line that repeats the one before within
// kRepeatQuiet is left out there, so that a message of every check (a
// missing ICMP library) cannot flood the system's log.
class HeadlessDesktop final : public Desktop {
 public:
  static constexpr std::chrono::minutes kRepeatQuiet{10};

  explicit HeadlessDesktop(std::FILE* errors = stderr, UnattendedMessages unattended = {})
      : errors_(errors), unattended_(std::move(unattended)) {}

  MessageResult ShowMessage(const std::string& text, const std::string& caption,
                            MessageIcon icon, MessageButtons buttons) override;
  void PlaySound(const std::string& wavFile, bool loop) override;
  void StopSounds() override;
  void Beep() override;
  void StartProgram(const std::string& program, const std::string& params) override;
  void ShowHelp(int command, int data) override;

 private:
  void Line(const std::string& text);
  // Hands `line` to `unattended_`, unless it repeats the one before; true
  // when it needs no other place.
  bool KeptUnattended(MessageIcon icon, const std::string& line);
  std::FILE* errors_;
  UnattendedMessages unattended_;
  std::mutex mutex_;
  std::string lastUnattended_;
  std::chrono::steady_clock::time_point lastUnattendedAt_;
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
