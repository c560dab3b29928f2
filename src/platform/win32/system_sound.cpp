#include "platform/system_sound.h"

#include <windows.h>
#include <mmsystem.h>

#include "platform/win32/text_wide.h"

namespace sentrel {

// SND_NODEFAULT: a file that cannot be played stays silent instead of
// playing the system's default sound. Played asynchronously, the call
// answers before the file is read, so a missing file is looked for first.
bool PlayWaveFile(const std::string& path, bool loop) {
  const std::wstring file = Widen(path);
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const DWORD flags = SND_FILENAME | SND_ASYNC | SND_NODEFAULT | (loop ? SND_LOOP : 0);
  return PlaySoundW(file.c_str(), nullptr, flags);
}

void StopWaveFiles() { PlaySoundW(nullptr, nullptr, 0); }

bool SystemBeep() { return Beep(800, 250); }

}  // namespace sentrel
