#pragma once

#include <string>

namespace sentrel {

// The system's own sound output, for a program without a window library:
// PlaySound and Beep on Windows. Elsewhere sound needs the window's
// multimedia library, so these do nothing and return false.
//
// Starts playing a WAV file without waiting (loop = until StopWaveFiles);
// false when the file is missing or the system refuses.
bool PlayWaveFile(const std::string& path, bool loop);
void StopWaveFiles();
// The 800 Hz, 250 ms tone; blocks for its length where it plays.
bool SystemBeep();

}  // namespace sentrel
