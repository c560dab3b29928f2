#include "gui/dialogs/dialog_fit.h"

#include <algorithm>

#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLayout>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>

namespace sentrel {

namespace {

// A chooser wide enough for a long file name beside its size, type and
// date, and tall enough for a folder of some length, in average characters
// and lines of its own font.
constexpr int kChooserColumns = 140;
constexpr int kChooserLines = 32;
// The share of the screen that a chooser may take at most, in percent.
constexpr int kChooserScreenShare = 90;
// The share of the screen's width that a row of tabs may take, in percent;
// wider, the pages are listed down the side instead.
constexpr int kTabRowScreenShare = 90;

// The page list takes at most this part of the room (a fraction).
constexpr int kPageListShare = 4;

// The page list that stands in for the tabs of `tabs` where their captions
// cannot fit in one row; made by KeepCaptionsWhole.
QListWidget* PageListOf(const QTabWidget& tabs) {
  return tabs.parentWidget() ? tabs.parentWidget()->findChild<QListWidget*>(
                                   tabs.objectName() + "List", Qt::FindDirectChildrenOnly)
                             : nullptr;
}

// Puts a page list beside `tabs`, hidden until it is needed, that selects
// the same page as the tabs.
void AddPageList(QTabWidget& tabs) {
  QWidget* owner = tabs.parentWidget();
  auto* column = owner ? qobject_cast<QBoxLayout*>(owner->layout()) : nullptr;
  const int at = column ? column->indexOf(&tabs) : -1;
  if (at < 0) return;
  auto* list = new QListWidget(owner);
  list->setObjectName(tabs.objectName() + "List");
  list->setAccessibleName("Pages");
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setWordWrap(true);
  list->setTextElideMode(Qt::ElideNone);
  list->hide();
  column->removeWidget(&tabs);
  auto* pages = new QHBoxLayout;
  pages->setContentsMargins(0, 0, 0, 0);
  pages->addWidget(list, 0);
  pages->addWidget(&tabs, 1);
  column->insertLayout(at, pages, 1);
  QObject::connect(list, &QListWidget::currentRowChanged, &tabs, [&tabs](int page) {
    if (page >= 0) tabs.setCurrentIndex(page);
  });
  QObject::connect(&tabs, &QTabWidget::currentChanged, list,
                   [list](int page) { list->setCurrentRow(page); });
}

// Shows the pages of `tabs` as a row of tabs when their captions fit in
// `room` pixels, else as the list down the side, each caption whole.
void ChoosePageSwitch(QTabWidget& tabs, QListWidget& list, int room) {
  list.clear();
  for (int i = 0; i < tabs.count(); ++i) {
    QString caption = tabs.tabText(i);
    list.addItem(caption.remove(QRegularExpression("&(?!&)")));
  }
  list.setCurrentRow(tabs.currentIndex());
  const bool listed = tabs.tabBar()->sizeHint().width() > room;
  // A tab bar that may scroll asks for no more than a little room; it is
  // hidden while the list shows the pages.
  tabs.setUsesScrollButtons(listed);
  tabs.tabBar()->setVisible(!listed);
  list.setVisible(listed);
  if (listed) {
    // As wide as the longest caption, up to a share of the room; longer
    // captions wrap onto more lines.
    const int frame = 2 * list.frameWidth();
    list.setFixedWidth(std::min(list.sizeHintForColumn(0), room / kPageListShare) + frame);
    int height = frame;
    for (int i = 0; i < list.count(); ++i) height += list.sizeHintForRow(i);
    list.setMinimumHeight(height);
  }
}

}  // namespace

void KeepCaptionsWhole(QWidget& dialog) {
  for (QTabWidget* tabs : dialog.findChildren<QTabWidget*>()) {
    tabs->setUsesScrollButtons(false);
    tabs->setElideMode(Qt::ElideNone);
    tabs->tabBar()->setExpanding(false);
    AddPageList(*tabs);
  }
  // By default a list measures its items once, at its first showing, and
  // keeps that width when a language file renames them.
  for (QComboBox* list : dialog.findChildren<QComboBox*>()) {
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  }
  if (QLayout* layout = dialog.layout()) layout->setSizeConstraint(QLayout::SetMinimumSize);
}

void FitToContents(QWidget& window) {
  if (const QScreen* screen = window.screen()) {
    const int room = screen->availableSize().width() * kTabRowScreenShare / 100;
    for (QTabWidget* tabs : window.findChildren<QTabWidget*>()) {
      if (QListWidget* list = PageListOf(*tabs)) ChoosePageSwitch(*tabs, *list, room);
    }
  }
  // Measured now, with the captions that were set while it was hidden; the
  // window takes its size hint even where the user had made it larger.
  if (QLayout* layout = window.layout()) layout->activate();
  window.adjustSize();
}

int CaptionWidth(const QPushButton& button) {
  // The style's own wish for a wide button is left out: an empty caption in
  // the options measures only the frame and margins around the text.
  QStyleOptionButton option;
  option.initFrom(&button);
  const QSize text = button.fontMetrics().size(Qt::TextShowMnemonic, button.text());
  return button.style()->sizeFromContents(QStyle::CT_PushButton, &option, text, &button).width();
}

void NarrowToCaption(QPushButton& button) { button.setFixedWidth(CaptionWidth(button)); }

void FitFileChooser(QFileDialog& chooser) {
  chooser.setViewMode(QFileDialog::Detail);
  const QFontMetrics metrics(chooser.font());
  QSize size(metrics.averageCharWidth() * kChooserColumns, metrics.lineSpacing() * kChooserLines);
  if (const QScreen* screen = chooser.screen()) {
    const QSize room = screen->availableSize() * kChooserScreenShare / 100;
    size = size.boundedTo(room);
  }
  chooser.resize(size.expandedTo(chooser.minimumSizeHint()));
  // Each column as wide as its longest entry, the file names included, so
  // that nothing is shortened with dots; a horizontal scroll bar takes over
  // where they do not fit.
  if (auto* list = chooser.findChild<QTreeView*>()) {
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list->header()->setStretchLastSection(true);
  }
  // The places beside the list, as wide as their longest name.
  auto* places = chooser.findChild<QListView*>("sidebar");
  auto* splitter = chooser.findChild<QSplitter*>("splitter");
  if (places && splitter && splitter->count() == 2) {
    const int placesWidth = places->sizeHintForColumn(0) + 2 * places->frameWidth() +
                            places->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    splitter->setSizes({placesWidth, size.width() - placesWidth});
  }
}

}  // namespace sentrel
