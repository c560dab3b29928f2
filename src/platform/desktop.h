#pragma once

#include <functional>
#include <string>

namespace sentrel {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageResult { Ok, Yes, No };

// What the lower layers need of the desktop: message boxes, sound, starting
// programs and help. The Qt shell implements it with widgets and Qt
// Multimedia, the headless runner with standard error, tests with a recorder.
// Every call is made on the window thread.
class Desktop {
 public:
  virtual ~Desktop() = default;

  // Modal; returns the button the user chose (Ok for an Ok-only box).
  virtual MessageResult ShowMessage(const std::string& text, const std::string& caption,
                                    MessageIcon icon,
                                    MessageButtons buttons = MessageButtons::Ok) = 0;
  // An Ok box that must be seen (an alarm, a log that cannot be written):
  // without owner and on top of every other window, so it shows also while
  // the main window is hidden in the tray or minimised. Modal like
  // ShowMessage, which it is where there are no windows.
  virtual void ShowAlert(const std::string& text, const std::string& caption, MessageIcon icon) {
    ShowMessage(text, caption, icon, MessageButtons::Ok);
  }
  // The alarm's box: shows it and returns; `closed` runs on the window
  // thread once the operator has closed it. Where boxes are modal anyway it
  // is ShowAlert followed by `closed`.
  virtual void OpenAlert(const std::string& text, const std::string& caption, MessageIcon icon,
                         std::function<void()> closed) {
    ShowAlert(text, caption, icon);
    if (closed) closed();
  }
  // Starts playback of a WAV file; loop = repeat until StopSounds.
  virtual void PlaySound(const std::string& wavFile, bool loop) = 0;
  virtual void StopSounds() = 0;
  // The 800 Hz, 250 ms tone.
  virtual void Beep() = 0;
  // Starts a program with its parameters, or opens a document with the
  // desktop's default application. Failures are silent.
  virtual void StartProgram(const std::string& program, const std::string& params) = 0;
  // command 1 = table of contents, 15 = help context `data`.
  virtual void ShowHelp(int command, int data) = 0;
};

// The application title that captions message boxes unless told otherwise.
inline constexpr const char* kApplicationTitle = "Sentrel";

}  // namespace sentrel
