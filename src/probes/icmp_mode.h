#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/desktop.h"
#include "platform/icmp_library.h"
#include "platform/raw_icmp_socket.h"
#include "platform/socket_notifier.h"

namespace sentrel {

// The echo mechanism of the process, decided once at start-up.
enum class IcmpMode : int {
  Library = 0,           // echo library loaded
  RawOnly = 1,           // no library; raw socket with its TTL option
  RawAndLibrary = 2,     // raw socket refused TTL; library loaded at the second try
  RawNoLibrary = 3,      // as 2, library still missing
  None = 4,              // no library, no raw socket
};

// What every probe of the process shares. Owned by the program; must outlive
// every probe that uses it.
struct IcmpContext {
  IcmpMode mode = IcmpMode::None;
  std::shared_ptr<IcmpLibrary> library;  // set in modes Library and RawAndLibrary
  RawIcmpSocketOpener openRawSocket;     // for the raw modes
  // Delivers raw-socket replies and time-outs to its owning thread; needed
  // in the raw modes only.
  SocketNotifier* notifier = nullptr;
  // Where the probes' message boxes go.
  Desktop* desktop = nullptr;
  // Runs a step on the window thread and waits for it; empty = run in place
  // (a caller already on the window thread, or the headless runner).
  std::function<void(const std::function<void()>&)> onWindowThread;
};

// Decides the mode: the library if it loads; else a raw socket with TTL 64
// (mode 1); if its TTL is refused, the library once more (2, else 3); no raw
// socket at all gives 4. The trial socket is closed again.
IcmpContext DetectIcmpMode(const IcmpLibraryLoader& loadLibrary,
                           const RawIcmpSocketOpener& openRawSocket);

// A loader that asks `load` again every `pause` while it gives nothing, for
// at most `within`, and gives up early once `stop` says so (`stop` may be
// empty). For a program started with the system: the library may not be
// ready yet (under Wine its device belongs to a driver that the service
// manager starts beside the services). `attempts`, when given, counts the
// calls of `load`.
IcmpLibraryLoader PatientIcmpLoader(IcmpLibraryLoader load, std::chrono::milliseconds within,
                                    std::chrono::milliseconds pause, std::function<bool()> stop,
                                    int* attempts = nullptr);

// DetectIcmpMode with the system's library and raw socket, in the calling
// thread's network namespace. The caller adds notifier, desktop and hand-off.
IcmpContext DetectSystemIcmpMode();

}  // namespace sentrel
