#include "gui/command_state.h"

namespace sentrel {

CommandState CommandsFor(std::size_t rowCount, bool pinging, bool multPlayWav) {
  return {rowCount > 0, !pinging, pinging, multPlayWav};
}

}  // namespace sentrel
