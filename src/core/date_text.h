#pragma once

#include <string>

#include "common/date_time.h"

namespace sentrel {

// The user's short date and time formats. The program runs with
// setlocale(LC_TIME, "") so "%x" and "%X" follow the user's locale; tests
// give fixed formats.
struct DateTextFormats {
  std::string date = "%x";
  std::string time = "%X";
};

std::string ShortDateText(DateTime value, const DateTextFormats& formats);
std::string TimeText(DateTime value, const DateTextFormats& formats);
// Short date, a blank, time: the stamp at the head of a status line.
std::string DateTimeText(DateTime value, const DateTextFormats& formats);

}  // namespace sentrel
