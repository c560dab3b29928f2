#pragma once

#include <QStringList>

#include "gui/placement.h"

class QMainWindow;
class QTreeView;

namespace sentrel {

// The width that a cell of the host list needs to show `text` whole; in
// the address column with the row's check box and light before it.
int32_t CellWidth(const QTreeView& list, const QString& text, bool addressColumn);

// The width the address column needs for the widest of `addresses`.
int32_t AddressColumnWidth(const QTreeView& list, const QStringList& addresses);

// Measures of the host list in `window` for the first start: every header
// whole, the address column wide enough for the widest IPv4 and a long IPv6
// address and for every one of `addresses`, the other columns for a
// typical text.
ListMeasures MeasureHostList(const QMainWindow& window, const QTreeView& list,
                             const QStringList& addresses);

}  // namespace sentrel
