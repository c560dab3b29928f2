#include "core/date_text.h"

namespace sentrel {

std::string ShortDateText(DateTime value, const DateTextFormats& formats) {
  return FormatDateTime(value, formats.date);
}

std::string TimeText(DateTime value, const DateTextFormats& formats) {
  return FormatDateTime(value, formats.time);
}

std::string DateTimeText(DateTime value, const DateTextFormats& formats) {
  return ShortDateText(value, formats) + " " + TimeText(value, formats);
}

}  // namespace sentrel
