#include "platform/sockets.h"

namespace {

// Address lookups and sockets on Windows need the sockets library started;
// the program does it at start-up, the test programs here.
const bool started = sentrel::StartSockets();

}  // namespace
