#include "app/headless_desktop.h"

#include "platform/program_start.h"
#include "platform/system_sound.h"
#include "platform/terminal.h"

namespace sentrel {

namespace {

const char* IconWord(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error: return "error";
    case MessageIcon::Warning: return "warning";
    case MessageIcon::Question: return "question";
    case MessageIcon::Information: return "information";
    case MessageIcon::None: break;
  }
  return "message";
}

// A status line ends in CR LF; on a terminal one line end is enough.
std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

void HeadlessDesktop::Line(const std::string& text) {
  std::lock_guard lock(mutex_);
  WriteTerminalText(errors_, text + "\n");
}

MessageResult HeadlessDesktop::ShowMessage(const std::string& text, const std::string& caption,
                                           MessageIcon icon, MessageButtons buttons) {
  std::string line = std::string(IconWord(icon)) + " [" + caption + "] " + WithoutLineEnd(text);
  if (buttons == MessageButtons::YesNo) line += " -> Yes";
  if (!unattended_ || !KeptUnattended(icon, line)) Line(line);
  return buttons == MessageButtons::YesNo ? MessageResult::Yes : MessageResult::Ok;
}

bool HeadlessDesktop::KeptUnattended(MessageIcon icon, const std::string& line) {
  {
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (line == lastUnattended_ && now - lastUnattendedAt_ < kRepeatQuiet) return true;
    lastUnattended_ = line;
    lastUnattendedAt_ = now;
  }
  return unattended_(icon, line);
}

// The line says what the alarm asked for, also where the system plays it.
void HeadlessDesktop::PlaySound(const std::string& wavFile, bool loop) {
  Line(std::string("sound [") + (loop ? "loop" : "once") + "] " + wavFile);
  PlayWaveFile(wavFile, loop);
}

void HeadlessDesktop::StopSounds() {
  Line("sound stopped");
  StopWaveFiles();
}

// Where the system has no tone of its own, the terminal's bell.
void HeadlessDesktop::Beep() {
  if (!SystemBeep()) Line("\a");
}

void HeadlessDesktop::StartProgram(const std::string& program, const std::string& params) {
  // A program that cannot be started is ignored, as in the window.
  sentrel::StartProgram(program, params);
}

void HeadlessDesktop::ShowHelp(int, int) { Line("help: see sentrel --help"); }

void StdoutLogPane::Append(const std::string& text) {
  std::string lines;
  lines.reserve(text.size() + 1);
  for (char c : text) {
    if (c != '\r') lines += c;
  }
  if (lines.empty() || lines.back() != '\n') lines += '\n';
  WriteTerminalText(out_, lines);
}

}  // namespace sentrel
