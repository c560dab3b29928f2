#include "probes/icmp_mode.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace sentrel {

IcmpContext DetectIcmpMode(const IcmpLibraryLoader& loadLibrary,
                           const RawIcmpSocketOpener& openRawSocket) {
  IcmpContext context;
  context.openRawSocket = openRawSocket;
  if (loadLibrary && (context.library = loadLibrary())) {
    context.mode = IcmpMode::Library;
    return context;
  }
  std::unique_ptr<RawIcmpSocket> trial = openRawSocket ? openRawSocket() : nullptr;
  if (!trial) {
    context.mode = IcmpMode::None;
    return context;
  }
  if (trial->SetTtl(64)) {
    context.mode = IcmpMode::RawOnly;
    return context;
  }
  context.library = loadLibrary ? loadLibrary() : nullptr;
  context.mode = context.library ? IcmpMode::RawAndLibrary : IcmpMode::RawNoLibrary;
  return context;
}

IcmpLibraryLoader PatientIcmpLoader(IcmpLibraryLoader load, std::chrono::milliseconds within,
                                    std::chrono::milliseconds pause, std::function<bool()> stop,
                                    int* attempts) {
  return [load = std::move(load), within, pause, stop = std::move(stop),
          attempts]() -> std::shared_ptr<IcmpLibrary> {
    const auto giveUp = std::chrono::steady_clock::now() + within;
    for (;;) {
      if (attempts) ++*attempts;
      if (auto library = load()) return library;
      if (stop && stop()) return nullptr;
      const auto now = std::chrono::steady_clock::now();
      if (now >= giveUp) return nullptr;
      // A timed wait on a condition nobody signals: MinGW's sleep_for was
      // seen to return at once under Wine.
      std::mutex mutex;
      std::condition_variable never;
      std::unique_lock lock(mutex);
      const auto until = std::min<std::chrono::steady_clock::time_point>(now + pause, giveUp);
      while (std::chrono::steady_clock::now() < until) never.wait_until(lock, until);
    }
  };
}

IcmpContext DetectSystemIcmpMode() {
  return DetectIcmpMode([] { return LoadIcmpLibrary(); }, OpenRawIcmpSocket);
}

}  // namespace sentrel
