#include "gui/list_measures.h"

#include <algorithm>

#include <QHeaderView>
#include <QMainWindow>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTreeView>

namespace sentrel {

namespace {

// Texts that the columns after the address should show whole at the first
// start: a name, two times, a description.
const char* const kColumnSamples[] = {"", "workstation-01.example.org", "Lost 9999", "Lost 9999",
                                      "The description of a host"};

QSize CellSize(const QTreeView& list, const QString& text, bool addressColumn) {
  QStyleOptionViewItem option;
  option.initFrom(&list);
  option.text = text;
  option.features = QStyleOptionViewItem::HasDisplay;
  option.decorationSize = list.iconSize();
  option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  if (addressColumn) {
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration;
    option.decorationPosition = QStyleOptionViewItem::Left;
  }
  return list.style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), &list);
}

}  // namespace

int32_t CellWidth(const QTreeView& list, const QString& text, bool addressColumn) {
  return CellSize(list, text, addressColumn).width();
}

int32_t AddressColumnWidth(const QTreeView& list, const QStringList& addresses) {
  const QFontMetrics metrics = list.fontMetrics();
  const QString* widest = nullptr;
  for (const QString& address : addresses) {
    if (!widest || metrics.horizontalAdvance(address) > metrics.horizontalAdvance(*widest))
      widest = &address;
  }
  return widest ? CellWidth(list, *widest, true) : 0;
}

ListMeasures MeasureHostList(const QMainWindow& window, const QTreeView& list,
                             const QStringList& addresses) {
  ListMeasures m;
  const QHeaderView& header = *list.header();
  QStringList widest = addresses;
  widest << "255.255.255.255" << "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";
  for (int c = 0; c < static_cast<int>(m.columnNeeded.size()); ++c) {
    const int32_t content = c == 0 ? AddressColumnWidth(list, widest)
                                   : CellWidth(list, kColumnSamples[c], false);
    m.columnNeeded[static_cast<std::size_t>(c)] =
        std::max(content, header.sectionSizeHint(c));
  }
  // A row is as tall as its tallest cell: the address with its box and
  // light, or a text whose letters reach further in some fonts.
  m.rowHeight = CellSize(list, "255.255.255.255", true).height();
  for (int c = 1; c < static_cast<int>(m.columnNeeded.size()); ++c)
    m.rowHeight = std::max(m.rowHeight, CellSize(list, kColumnSamples[c], false).height());
  m.rowHeight = std::max(m.rowHeight, 1);
  m.headerHeight = header.sizeHint().height();
  m.listFrameWidth = 2 * list.frameWidth() + list.verticalScrollBar()->sizeHint().width();
  m.listFrameHeight = 2 * list.frameWidth();
  // What the window's layout adds around the list and the log pane.
  const QWidget* central = window.centralWidget();
  m.chromeHeight = central ? window.sizeHint().height() - central->sizeHint().height() : 0;
  // The style's own window frame stands in for the window manager's, which
  // is known only once the window is shown.
  const QStyle& style = *window.style();
  const int border = style.pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window);
  m.frameWidth = 2 * border;
  m.frameTop = style.pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window) + border;
  m.frameHeight = m.frameTop + border;
  return m;
}

}  // namespace sentrel
