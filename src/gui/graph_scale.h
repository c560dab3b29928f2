#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "history/history_types.h"

namespace sentrel {

// The arithmetic of the history graph, apart from the painting.

// The round-trip axis: marks every `stepMs` (1, 2 or 5 times a power of
// ten, whole ms), four or fewer of them up to `topMs`, which leaves a tenth
// of room above the highest round trip.
struct AxisScale {
  int64_t topMs = 1;
  int64_t stepMs = 1;
};
AxisScale RoundTripAxis(double highestMs);

// A band of the light colours: round trips in (fromMs, toMs] show `light`
// in the list (1..4). Follows the list's rule: the first limit that the
// round trip does not exceed gives the light, and a round trip above the
// last limit shows light 1 again. Bands are clipped to [0, topMs].
struct LightBand {
  int64_t fromMs = 0;
  int64_t toMs = 0;
  int light = 1;
};
std::vector<LightBand> LightBands(const std::array<int32_t, 4>& lightTimes, int64_t topMs);

// A labelled mark of the time axis.
struct TimeTick {
  int64_t minute = 0;
  std::string label;
};
// Marks on whole steps of local time within [fromMinute, toMinute): every
// 10 minutes ("14:30") for an hour, every 3 hours ("15:00") for a day,
// every midnight ("Mon 02") for a week, every 5th day ("03-05") beyond.
std::vector<TimeTick> TimeTicks(int64_t fromMinute, int64_t toMinute);

}  // namespace sentrel
