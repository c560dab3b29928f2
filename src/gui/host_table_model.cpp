#include "gui/host_table_model.h"

#include <algorithm>
#include <numeric>
#include <optional>

#include "core/echo_result.h"
#include "core/host_list.h"
#include "core/host_parents.h"

namespace sentrel {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// What a screen reader says for a row's light: the colours alone tell nothing.
QString StateDescription(int image) {
  switch (image) {
    case 1:
      return "answers, light 1 of 4 (fastest)";
    case 2:
      return "answers, light 2 of 4";
    case 3:
      return "answers, light 3 of 4";
    case 4:
      return "answers, light 4 of 4 (slowest)";
    case 5:
      return "lost";
    case kDegradedRowImage:
      return "degraded: answers, but slower or lossier than its thresholds";
    case kUnreachableImage:
      return "unreachable: a host it is reached through is down";
    default:
      return "not checked";
  }
}

}  // namespace

HostTableModel::HostTableModel(HostList& hosts, std::vector<QIcon> images, QObject* parent)
    : QAbstractTableModel(parent),
      hosts_(hosts),
      images_(std::move(images)),
      headers_{"IP", "Computer name or description", "Avr. Time", "Last Time", "Description",
               "Parent"} {}

int HostTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int HostTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kAllColumns;
}

QString HostTableModel::Text(int row, int column) const {
  return rows_.at(static_cast<std::size_t>(row)).text.at(static_cast<std::size_t>(column));
}

QVariant HostTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Row& row = rows_[static_cast<std::size_t>(index.row())];
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return row.text[static_cast<std::size_t>(column)];
    case Qt::DecorationRole:
      if (column == 0 && static_cast<std::size_t>(row.image) < images_.size())
        return images_[static_cast<std::size_t>(row.image)];
      return {};
    case Qt::AccessibleDescriptionRole:
      return column == 0 ? StateDescription(row.image) : QVariant();
    case kImageRole:
      return row.image;
    case Qt::CheckStateRole:
      if (column == 0) return row.ticked ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::TextAlignmentRole:
      return column == 0 ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                         : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant HostTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kAllColumns) return {};
  if (role == Qt::DisplayRole) return headers_[static_cast<std::size_t>(section)];
  if (role == Qt::DecorationRole) {
    const auto image = static_cast<std::size_t>(sort_.HeaderImage(section));
    return image < images_.size() ? QVariant(images_[image]) : QVariant();
  }
  if (role == Qt::TextAlignmentRole && section == 0)
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags HostTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool HostTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != 0 || index.row() >= rowCount()) return false;
  const bool ticked = value.toInt() == Qt::Checked;
  Row& row = rows_[static_cast<std::size_t>(index.row())];
  row.ticked = ticked;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  hosts_.SetRowChecked(static_cast<std::size_t>(index.row()), ticked);
  return true;
}

void HostTableModel::SetHeaderText(int column, const QString& text) {
  if (column < 0 || column >= kAllColumns) return;
  headers_[static_cast<std::size_t>(column)] = text;
  emit headerDataChanged(Qt::Horizontal, column, column);
}

HostTableModel::Row HostTableModel::RowOf(std::size_t listRow) const {
  const HostEntry& host = hosts_.Host(listRow);
  Row row;
  const auto texts = HostRowTexts(host);
  for (std::size_t c = 0; c < texts.size(); ++c) row.text[c] = Q(texts[c]);
  row.text[kParentColumn] = ParentText(listRow);
  row.ticked = host.Enabled;
  return row;
}

void HostTableModel::ResetFromList() {
  beginResetModel();
  rows_.clear();
  rows_.reserve(hosts_.Count());
  for (std::size_t i = 0; i < hosts_.Count(); ++i) rows_.push_back(RowOf(i));
  endResetModel();
}

int HostTableModel::RowAppended() {
  const int row = static_cast<int>(rows_.size());
  beginInsertRows({}, row, row);
  Row added = RowOf(hosts_.Count() - 1);
  added.ticked = false;
  rows_.push_back(added);
  endInsertRows();
  if (!sort_.Active()) return row;
  // A sorted list takes a new row at the place of its address text.
  int place = 0;
  const int sign = sort_.Ascending() ? 1 : -1;
  while (place < row && sign * CompareCellTexts(rows_[static_cast<std::size_t>(place)].text[0],
                                                added.text[0]) <= 0) {
    ++place;
  }
  if (place == row) return row;
  std::vector<std::size_t> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  order.erase(order.end() - 1);
  order.insert(order.begin() + place, static_cast<std::size_t>(row));
  ApplyOrder(order);
  return place;
}

void HostTableModel::RowEdited(int row) {
  const Row fresh = RowOf(static_cast<std::size_t>(row));
  Row& current = rows_.at(static_cast<std::size_t>(row));
  current.text = fresh.text;
  emit dataChanged(index(row, 0), index(row, kColumns - 1), {Qt::DisplayRole});
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    SetCell(static_cast<int>(i), kParentColumn, ParentText(i));
  }
}

QString HostTableModel::ParentText(std::size_t listRow) const {
  const HostEntry& host = hosts_.Host(listRow);
  if (host.Parent.Empty()) return {};
  const auto snapshot = hosts_.Snapshot();
  const HostEntry* parent = ParentOf(*snapshot, host);
  return Q(parent ? HostLabel(*parent) : host.Parent.Get());
}

void HostTableModel::RemoveRow(int row, const std::function<void()>& remove) {
  beginRemoveRows({}, row, row);
  remove();
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void HostTableModel::RemoveAllRows(const std::function<void()>& clear) {
  beginResetModel();
  clear();
  rows_.clear();
  endResetModel();
}

void HostTableModel::SetAddressText(int row, const QString& text) { SetCell(row, 0, text); }

void HostTableModel::SetCell(int row, int column, const QString& text) {
  QString& cell = rows_[static_cast<std::size_t>(row)].text[static_cast<std::size_t>(column)];
  if (cell == text) return;
  cell = text;
  ++lastChanges_;
  const QModelIndex at = index(row, column);
  emit dataChanged(at, at, {Qt::DisplayRole});
}

void HostTableModel::SetImage(int row, int image) {
  int& current = rows_[static_cast<std::size_t>(row)].image;
  if (current == image) return;
  current = image;
  ++lastChanges_;
  const QModelIndex at = index(row, 0);
  emit dataChanged(at, at, {Qt::DecorationRole});
}

bool HostTableModel::Refresh() {
  lastChanges_ = 0;
  bool lost = false;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const int row = static_cast<int>(i);
    const RowView view = ViewOfRow(hosts_.Host(i), rows_[i].ticked);
    const bool rowLost = view.image == kLostImage;
    const bool unreachable = view.image == kUnreachableImage;
    if (view.caption) SetCell(row, 0, Q(*view.caption));
    // A lost host's times read in the window's language.
    const auto times = [&](const std::optional<std::string>& text) {
      return rowLost ? lostText_ : unreachable ? unreachableText_ : Q(*text);
    };
    if (view.avgTime) SetCell(row, 2, view.degraded ? degradedText_ : times(view.avgTime));
    if (view.lastTime) SetCell(row, 3, times(view.lastTime));
    SetImage(row, view.image);
    // Unreachable is down as well: the tray and the counts say so.
    if (rowLost || unreachable) lost = true;
  }
  return lost;
}

void HostTableModel::SetLostText(const QString& text) {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].image != kLostImage) continue;
    for (const int c : {2, 3}) {
      if (rows_[i].text[static_cast<std::size_t>(c)] == lostText_) SetCell(static_cast<int>(i), c, text);
    }
  }
  lostText_ = text;
}

void HostTableModel::SetDegradedText(const QString& text) {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].image == kDegradedRowImage && rows_[i].text[2] == degradedText_)
      SetCell(static_cast<int>(i), 2, text);
  }
  degradedText_ = text;
}

void HostTableModel::SetUnreachableText(const QString& text) {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].image != kUnreachableImage) continue;
    for (const int c : {2, 3}) {
      if (rows_[i].text[static_cast<std::size_t>(c)] == unreachableText_)
        SetCell(static_cast<int>(i), c, text);
    }
  }
  unreachableText_ = text;
}

HostCounts HostTableModel::Counts() const {
  HostCounts counts;
  counts.hosts = static_cast<int>(rows_.size());
  for (const Row& row : rows_) {
    if (!row.ticked) ++counts.disabled;
    else if (row.image == kLostImage || row.image == kUnreachableImage) ++counts.down;
  }
  return counts;
}

std::vector<std::size_t> HostTableModel::SortedOrder(int column, bool ascending) const {
  std::vector<std::size_t> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  const auto c = static_cast<std::size_t>(column);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const int cmp = CompareCellTexts(rows_[a].text[c], rows_[b].text[c]);
    return ascending ? cmp < 0 : cmp > 0;
  });
  return order;
}

void HostTableModel::SortByHeader(int column) {
  if (column < 0 || column >= kAllColumns) return;
  sort_.Click(column);
  emit headerDataChanged(Qt::Horizontal, 0, kAllColumns - 1);
  ApplyOrder(SortedOrder(column, sort_.Ascending()));
}

void HostTableModel::ApplyOrder(const std::vector<std::size_t>& order) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  if (!hosts_.Reorder(order)) {
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    return;
  }
  std::vector<Row> moved;
  moved.reserve(rows_.size());
  std::vector<int> newRowOf(rows_.size());
  for (std::size_t to = 0; to < order.size(); ++to) {
    moved.push_back(std::move(rows_[order[to]]));
    newRowOf[order[to]] = static_cast<int>(to);
  }
  rows_ = std::move(moved);
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& old : before) {
    after.push_back(index(newRowOf[static_cast<std::size_t>(old.row())], old.column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace sentrel
