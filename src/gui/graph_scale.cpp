#include "gui/graph_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/date_time.h"
#include "history/history_time.h"

namespace sentrel {

AxisScale RoundTripAxis(double highestMs) {
  const double room = std::max(highestMs * 1.1, 1.0);
  int64_t power = 1;
  while (power * 10 < room / 4) power *= 10;
  int64_t step = 10 * power;
  for (const int64_t factor : {1, 2, 5}) {
    if (static_cast<double>(factor * power) * 4 >= room) {
      step = factor * power;
      break;
    }
  }
  const auto marks = static_cast<int64_t>(std::ceil(room / static_cast<double>(step)));
  return {std::max<int64_t>(marks, 1) * step, step};
}

std::vector<LightBand> LightBands(const std::array<int32_t, 4>& lightTimes, int64_t topMs) {
  std::vector<LightBand> bands;
  int64_t from = 0;
  for (int light = 1; light <= 4 && from < topMs; ++light) {
    // A limit below the one before it takes nothing from the round trips
    // that the earlier limit already claimed.
    const int64_t to = std::min<int64_t>(std::max<int64_t>(lightTimes[light - 1], from), topMs);
    if (to > from) bands.push_back({from, to, light});
    from = std::max(from, to);
  }
  if (from < topMs) bands.push_back({from, topMs, 1});
  return bands;
}

std::vector<TimeTick> TimeTicks(int64_t fromMinute, int64_t toMinute) {
  const int64_t span = toMinute - fromMinute;
  int64_t step = 0;
  const char* format = nullptr;
  if (span <= 120) {
    step = 10;
    format = "%02d:%02d";
  } else if (span <= 2 * 1440) {
    step = 180;
    format = "%02d:%02d";
  } else if (span <= 8 * 1440) {
    step = 1440;
  } else {
    step = 5 * 1440;
  }
  std::vector<TimeTick> ticks;
  for (int64_t minute = (fromMinute + step - 1) / step * step; minute < toMinute; minute += step) {
    const CivilDateTime c = DecodeDateTime(FromHistorySecond(minute * 60));
    char label[32];
    if (format != nullptr) {
      std::snprintf(label, sizeof label, format, c.hour, c.minute);
    } else if (step == 1440) {
      static const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
      std::snprintf(label, sizeof label, "%s %02d",
                    kDays[DayOfWeek(FromHistorySecond(minute * 60))], c.day);
    } else {
      std::snprintf(label, sizeof label, "%02d-%02d", c.month, c.day);
    }
    ticks.push_back({minute, label});
  }
  return ticks;
}

}  // namespace sentrel
