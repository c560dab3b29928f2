#pragma once

#include <array>
#include <string>

namespace sentrel {

// The schedule controls that the host dialog and the options dialog both
// show, so that the two build them alike.

// The day boxes in order, bit 0 (Sunday) first; the key names the box.
inline constexpr std::array<const char*, 7> kDayKeys = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// The "Day:" field keeps itself within these.
inline constexpr int kFirstDay = 1;
inline constexpr int kLastDay = 31;

// The half-hour items of "Time:"; bit i of a stored time mask is item i.
inline constexpr int kTimeSlots = 48;

// The text of a half-hour item: "00.00", "00.30", "01.00" ... "23.30".
inline std::string HalfHourText(int slot) {
  const int hour = slot / 2;
  std::string text = hour < 10 ? "0" + std::to_string(hour) : std::to_string(hour);
  return text + (slot % 2 == 0 ? ".00" : ".30");
}

}  // namespace sentrel
