#pragma once

#include <array>

class QCheckBox;
class QGroupBox;
class QListWidget;
class QWidget;

namespace sentrel {

// The schedule controls of the host dialog and the options dialog, built
// by one hand so that both show them alike.

// The group "Days of week": the seven day boxes (named by their keys, bit 0
// Sunday first) in two rows, Sunday to Wednesday over Thursday to Saturday.
QGroupBox* MakeDaysOfWeekBox(std::array<QCheckBox*, 7>& boxes, QWidget* parent = nullptr);

// The time list named `name`: the 48 half-hour items with a check box
// each, in a grid of four hours to a row that shows every item at once and
// never scrolls.
QListWidget* MakeTimeGrid(const char* name, QWidget* parent = nullptr);

}  // namespace sentrel
