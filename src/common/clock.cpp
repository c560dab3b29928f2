#include "clock.h"

#include <chrono>

namespace sentrel {

DateTime SystemClock::Now() const {
  using namespace std::chrono;
  const auto sinceEpoch = system_clock::now().time_since_epoch();
  const auto secs = duration_cast<seconds>(sinceEpoch);
  const auto ms = duration_cast<milliseconds>(sinceEpoch - secs);
  return FromUnixTimeLocal(secs.count(), static_cast<int>(ms.count()));
}

}  // namespace sentrel
