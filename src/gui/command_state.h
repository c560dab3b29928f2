#pragma once

#include <cstddef>

namespace sentrel {

// Which commands of the main window are enabled. Add, Trace now and Reload
// all addresses are always enabled.
struct CommandState {
  bool edit = false;  // Edit, Delete and Ping now: the list has a row
  bool ping = false;  // Ping: checks stopped
  bool stop = false;  // Stop: checks running
  bool stopSounds = false;  // Stop all sounds: MultPlayWAV set
};

CommandState CommandsFor(std::size_t rowCount, bool pinging, bool multPlayWav);

}  // namespace sentrel
