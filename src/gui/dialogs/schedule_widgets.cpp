#include "gui/dialogs/schedule_widgets.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QListWidget>

#include "gui/dialogs/schedule_fields.h"

namespace sentrel {

namespace {

constexpr int kDayColumns = 4;
// Eight half hours, four hours, to a row: six rows in all.
constexpr int kTimeColumns = 8;
constexpr int kTimeRows = kTimeSlots / kTimeColumns;
// Room between two items, in pixels at scale 1.
constexpr int kTimeGap = 4;

}  // namespace

QGroupBox* MakeDaysOfWeekBox(std::array<QCheckBox*, 7>& boxes, QWidget* parent) {
  auto* group = new QGroupBox("Days of week", parent);
  group->setObjectName("DaysOfWeek");
  auto* grid = new QGridLayout(group);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    boxes[i] = new QCheckBox(kDayKeys[i], group);
    boxes[i]->setObjectName(kDayKeys[i]);
    const int index = static_cast<int>(i);
    grid->addWidget(boxes[i], index / kDayColumns, index % kDayColumns);
  }
  grid->setColumnStretch(kDayColumns, 1);
  return group;
}

QListWidget* MakeTimeGrid(const char* name, QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setObjectName(name);
  for (int slot = 0; slot < kTimeSlots; ++slot) {
    auto* item = new QListWidgetItem(QString::fromStdString(HalfHourText(slot)), list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setFlow(QListView::LeftToRight);
  list->setWrapping(true);
  list->setMovement(QListView::Static);
  list->setResizeMode(QListView::Fixed);
  list->setUniformItemSizes(true);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // One cell size for all, that of the widest item with its check box as
  // the list draws it, so that the grid fits the font.
  QSize item;
  for (int slot = 0; slot < kTimeSlots; ++slot) {
    item = item.expandedTo(list->sizeHintForIndex(list->model()->index(slot, 0)));
  }
  const QSize cell(item.width() + kTimeGap, item.height() + kTimeGap / 2);
  list->setGridSize(cell);
  const int frame = 2 * list->frameWidth();
  list->setFixedSize(kTimeColumns * cell.width() + frame + kTimeGap,
                     kTimeRows * cell.height() + frame + kTimeGap / 2);
  return list;
}

}  // namespace sentrel
