#include "core/date_text.h"

#include <cmath>
#include <cstdint>
#include <mutex>

namespace sentrel {

namespace {

// The last stamp made: a thousand workers stamp their results within the
// same second, and the text of a second is the same for all of them.
struct StampCache {
  std::mutex mutex;
  int64_t second = -1;
  DateTextFormats formats;
  std::string text;
};

StampCache& Cache() {
  static StampCache cache;
  return cache;
}

}  // namespace

std::string ShortDateText(DateTime value, const DateTextFormats& formats) {
  return FormatDateTime(value, formats.date);
}

std::string TimeText(DateTime value, const DateTextFormats& formats) {
  return FormatDateTime(value, formats.time);
}

std::string DateTimeText(DateTime value, const DateTextFormats& formats) {
  // The whole second that the texts show (as DecodeDateTime counts it).
  const auto totalMs = static_cast<int64_t>(std::llround(value * 86'400'000.0));
  const int64_t second = totalMs >= 0 ? totalMs / 1000 : (totalMs - 999) / 1000;
  StampCache& cache = Cache();
  {
    std::lock_guard lock(cache.mutex);
    if (cache.second == second && cache.formats.date == formats.date &&
        cache.formats.time == formats.time)
      return cache.text;
  }
  std::string text = ShortDateText(value, formats) + " " + TimeText(value, formats);
  std::lock_guard lock(cache.mutex);
  cache.second = second;
  cache.formats = formats;
  cache.text = text;
  return text;
}

}  // namespace sentrel
