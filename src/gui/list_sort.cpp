#include "gui/list_sort.h"

#include <QCollator>

namespace sentrel {

void SortState::Click(int column) {
  ascending_ = !(column == column_ && ascending_);
  column_ = column;
}

int SortState::HeaderImage(int column) const {
  if (column != column_) return kHeaderBlank;
  return ascending_ ? kHeaderAscending : kHeaderDescending;
}

int CompareCellTexts(const QString& a, const QString& b) {
  static const QCollator collator = [] {
    QCollator c;
    c.setCaseSensitivity(Qt::CaseInsensitive);
    c.setNumericMode(false);
    return c;
  }();
  return collator.compare(a, b);
}

}  // namespace sentrel
