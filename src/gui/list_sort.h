#pragma once

#include <QString>

namespace sentrel {

// Images of the list's state image list that the column headers show.
inline constexpr int kHeaderBlank = 6;
inline constexpr int kHeaderAscending = 7;
inline constexpr int kHeaderDescending = 8;

// The sort order chosen by header clicks. Nothing is sorted until the first
// click; the same header again flips the direction, another header starts
// ascending and blanks the rest. Neither order nor direction is stored.
class SortState {
 public:
  void Click(int column);
  bool Active() const { return column_ >= 0; }
  int Column() const { return column_; }
  bool Ascending() const { return ascending_; }
  int HeaderImage(int column) const;

 private:
  int column_ = -1;
  bool ascending_ = true;
};

// The order of two cell texts: without letter case and by the user's locale,
// as plain text (so "100" sorts before "20"). Negative, zero or positive.
int CompareCellTexts(const QString& a, const QString& b);

}  // namespace sentrel
