#include "gui/dialogs/dialog_fit.h"

#include <algorithm>

#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLayout>
#include <QListView>
#include <QPushButton>
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

}  // namespace

void KeepCaptionsWhole(QWidget& dialog) {
  for (QTabWidget* tabs : dialog.findChildren<QTabWidget*>()) {
    tabs->setUsesScrollButtons(false);
    tabs->setElideMode(Qt::ElideNone);
    tabs->tabBar()->setExpanding(false);
  }
  // By default a list measures its items once, at its first showing, and
  // keeps that width when a language file renames them.
  for (QComboBox* list : dialog.findChildren<QComboBox*>()) {
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  }
  if (QLayout* layout = dialog.layout()) layout->setSizeConstraint(QLayout::SetMinimumSize);
}

void FitToContents(QWidget& window) {
  window.ensurePolished();
  // A hidden page that changed (new captions, its first polish) does not
  // tell the layouts above it; measured from their old notes, the window
  // would differ from one opening to the next.
  for (QWidget* child : window.findChildren<QWidget*>()) child->updateGeometry();
  if (QLayout* layout = window.layout()) {
    layout->invalidate();
    layout->activate();
  }
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
