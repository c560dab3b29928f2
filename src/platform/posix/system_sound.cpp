#include "platform/system_sound.h"

namespace sentrel {

bool PlayWaveFile(const std::string&, bool) { return false; }

void StopWaveFiles() {}

bool SystemBeep() { return false; }

}  // namespace sentrel
