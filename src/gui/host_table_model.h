#pragma once

#include <array>
#include <functional>
#include <vector>

#include <QAbstractTableModel>
#include <QIcon>

#include "gui/list_sort.h"

namespace sentrel {

class HostList;

// What the status bar and the tray tooltip tell of the list.
struct HostCounts {
  int hosts = 0;
  int down = 0;      // ticked and lost
  int disabled = 0;  // not ticked
};

// The host list view's rows: the texts, image and check box that the view
// shows for each host of the list, in the list's order. The entries' results
// reach the rows only through Refresh (once a second), which touches only
// the cells whose text or image changed. Window thread only.
class HostTableModel final : public QAbstractTableModel {
 public:
  // The five columns that are always there (their widths are stored), then
  // the "Parent" column, which the operator may show.
  static constexpr int kColumns = 5;
  static constexpr int kParentColumn = kColumns;
  static constexpr int kAllColumns = kColumns + 1;
  // The index of a row's state image (column 0).
  static constexpr int kImageRole = Qt::UserRole;
  // The state image of a lost host.
  static constexpr int kLostImage = 5;
  // `images` are the state images (rows 0..5, headers 6..8, then the
  // unreachable row's 9 and the degraded row's 10).
  HostTableModel(HostList& hosts, std::vector<QIcon> images, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  void SetHeaderText(int column, const QString& text);
  // The word the time columns of a lost host show; rows that show the old
  // word take the new one at once.
  void SetLostText(const QString& text);
  // The word the average time column of a degraded host shows.
  void SetDegradedText(const QString& text);
  // The same for a host that is down while its parent or the uplink is.
  void SetUnreachableText(const QString& text);
  HostCounts Counts() const;

  // Rebuilds every row from the list (after loading).
  void ResetFromList();
  // A row was appended to the list (Add): it shows its texts, image 0 and
  // an unticked box, and moves to its sorted place when a sort is active.
  // Returns the row where it ended.
  int RowAppended();
  // The host of `row` was edited: columns 0, 1 and 4 anew, "_" in 2 and 3.
  // Every row's parent column anew, since an edit may move a parent.
  void RowEdited(int row);
  // Removes `row`; `remove` deletes the host from the list in between.
  void RemoveRow(int row, const std::function<void()>& remove);
  // Removes every row; `clear` empties the list in between.
  void RemoveAllRows(const std::function<void()>& clear);
  // Column 0 of `row` shows `text` (Reload all addresses).
  void SetAddressText(int row, const QString& text);

  // RefreshList: copies every ticked host's results into its row. Returns
  // whether some host is lost. Counts the cells it changed.
  bool Refresh();
  int LastRefreshChanges() const { return lastChanges_; }

  // A header click on `column`: sorts the rows (and the list with them).
  void SortByHeader(int column);
  const SortState& Sort() const { return sort_; }

  QString Text(int row, int column) const;

 private:
  struct Row {
    std::array<QString, kAllColumns> text;
    int image = 0;
    bool ticked = false;
  };
  Row RowOf(std::size_t listRow) const;
  // The parent's name (or address) of the host in `listRow`; the stored
  // text when the list does not hold that host.
  QString ParentText(std::size_t listRow) const;
  void SetCell(int row, int column, const QString& text);
  void SetImage(int row, int image);
  // Moves rows into `order` (row i takes old row order[i]) in list and view.
  void ApplyOrder(const std::vector<std::size_t>& order);
  std::vector<std::size_t> SortedOrder(int column, bool ascending) const;

  HostList& hosts_;
  std::vector<QIcon> images_;
  std::vector<Row> rows_;
  std::array<QString, kAllColumns> headers_;
  QString lostText_ = "Lost";
  QString degradedText_ = "Degraded";
  QString unreachableText_ = "Unreachable";
  SortState sort_;
  int lastChanges_ = 0;
};

}  // namespace sentrel
