// Every page of every dialog, in each shipped language, with every caption
// whole. Registered once at scale 1 and once with QT_SCALE_FACTOR=2.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTabWidget>

#include "dialog_gallery.h"
#include "fakes/test_files.h"
#include "gui/dialogs/dialog_fit.h"

namespace sentrel::testing {
namespace {

std::string Name(const QWidget& widget) {
  const QString name = widget.objectName().isEmpty() ? widget.metaObject()->className()
                                                     : widget.objectName();
  return name.toStdString();
}

std::string Size(int have, int need) {
  return std::to_string(have) + " px, needs " + std::to_string(need);
}

// The width a combo box needs to show its longest item whole, measured
// afresh (its own size hint may be one it noted at its first showing).
// The box measures itself a few pixels narrower than this estimate.
constexpr int kComboSlack = 4;
int LongestItemWidth(const QComboBox& list) {
  int text = 0;
  for (int i = 0; i < list.count(); ++i) {
    text = std::max(text, list.fontMetrics().horizontalAdvance(list.itemText(i)));
  }
  QStyleOptionComboBox option;
  option.initFrom(&list);
  option.editable = list.isEditable();
  const QSize content(text, list.fontMetrics().height());
  return list.style()->sizeFromContents(QStyle::CT_ComboBox, &option, content, &list).width() -
         kComboSlack;
}

// What is cut on the window as it is shown now, one line per widget.
std::vector<std::string> CutParts(const QWidget& window) {
  std::vector<std::string> cut;
  const auto report = [&cut](const QWidget& w, const std::string& what) {
    cut.push_back(Name(w) + " (" + w.metaObject()->className() + "): " + what);
  };
  for (const QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    const QSize hint = w->sizeHint();
    if (const auto* label = qobject_cast<const QLabel*>(w); label && label->wordWrap()) {
      const int need = label->heightForWidth(label->width());
      if (label->height() < need) report(*w, "height " + Size(label->height(), need));
    } else if (const auto* button = qobject_cast<const QPushButton*>(w)) {
      const int need = CaptionWidth(*button);
      if (button->width() < need) report(*w, "width " + Size(button->width(), need));
    } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
      const int need = std::max(hint.width(), LongestItemWidth(*combo));
      if (combo->width() < need) report(*w, "width " + Size(combo->width(), need));
    } else if (qobject_cast<const QLabel*>(w) || qobject_cast<const QCheckBox*>(w) ||
               qobject_cast<const QRadioButton*>(w)) {
      if (w->width() < hint.width()) report(*w, "width " + Size(w->width(), hint.width()));
      if (w->height() < hint.height()) report(*w, "height " + Size(w->height(), hint.height()));
    } else if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
      const int need = group->minimumSizeHint().width();
      if (group->width() < need) report(*w, "width " + Size(group->width(), need));
    } else if (const auto* tabs = qobject_cast<const QTabWidget*>(w)) {
      const QTabBar& bar = *tabs->tabBar();
      if (!bar.isVisible()) continue;  // the pages are listed instead
      if (bar.width() < bar.sizeHint().width())
        report(*w, "tab bar scrolls, " + Size(bar.width(), bar.sizeHint().width()));
      for (int i = 0; i < bar.count(); ++i) {
        const QString caption = bar.tabText(i).remove('&');
        const int need = bar.fontMetrics().horizontalAdvance(caption);
        if (bar.tabRect(i).width() < need)
          report(*w, "tab " + caption.toStdString() + " " + Size(bar.tabRect(i).width(), need));
      }
    } else if (const auto* list = qobject_cast<const QListWidget*>(w);
               list && list->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOff) {
      // A list that never scrolls must show every item whole.
      for (int i = 0; i < list->count(); ++i) {
        const QRect item = list->visualItemRect(list->item(i));
        const QString text = list->item(i)->text();
        const int wrap = list->wordWrap() ? Qt::TextWordWrap : 0;
        const QRect need = list->fontMetrics().boundingRect(QRect(0, 0, item.width(), 10000),
                                                            wrap, text);
        if (!list->viewport()->rect().contains(item) || item.width() < need.width() ||
            item.height() < need.height())
          report(*w, "item " + text.toStdString() + " not whole in the list");
      }
    }
  }
  return cut;
}

// Qt's offscreen platform on one desktop screen of 1920 x 1080 pixels, so
// that at scale 2 the windows have the room of a real screen (960 x 540).
class OffscreenDesktop final : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string config = dir_.Path() + "/screen.json";
    PutFile(config, R"({"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1920,
                         "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + config.c_str());
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  TempDir dir_;
  int argc_ = 1;
  char name_[20] = "dialog_layout_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new OffscreenDesktop);

class DialogLayoutTest : public ::testing::TestWithParam<const char*> {};

std::string SizeOf(const QWidget& window) {
  return std::to_string(window.width()) + "x" + std::to_string(window.height());
}

TEST_P(DialogLayoutTest, EveryCaptionOfEveryPageIsWhole) {
  const std::string language = GetParam();
  const std::string scale = QString::number(qApp->devicePixelRatio()).toStdString();
  DialogGallery gallery(SENTREL_SOURCE_DIR "/resources/lang");
  // The program starts in one language and is switched to another later:
  // every window has been shown once in the widest (Russian) or, for that
  // one, in English before.
  gallery.ApplyLanguage(language == "Russian" ? "English" : "Russian");
  gallery.VisitPages([](const GalleryPage&) {});
  gallery.ApplyLanguage(language);

  const auto check = [&](const GalleryPage& page, const std::string& when) {
    for (const std::string& part : CutParts(page.window)) {
      ADD_FAILURE() << page.window_name.toStdString() << "/" << page.page.toStdString() << " "
                    << when << ": " << part << "; language " << language << ", scale " << scale;
    }
  };
  int pages = 0;
  std::vector<std::string> sizes;
  gallery.VisitPages([&](const GalleryPage& page) {
    ++pages;
    sizes.push_back(SizeOf(page.window));
    check(page, "as opened");
    // Our windows keep their captions whole however small the user makes
    // them; the library's file chooser may be made smaller than its texts.
    if (page.window_name == "FileChooser") return;
    const QSize opened = page.window.size();
    page.window.resize(page.window.minimumSize());
    QApplication::processEvents();
    check(page, "at its smallest");
    page.window.resize(opened);
    QApplication::processEvents();
  });
  // Host dialog 7, options 5, password 2, about, file chooser, history.
  EXPECT_EQ(pages, 17);

  // Opened again in the same language, and opened in a program that
  // started in it, every window has the same size as after the switch.
  DialogGallery fresh(SENTREL_SOURCE_DIR "/resources/lang");
  fresh.ApplyLanguage(language);
  for (DialogGallery* again : {&gallery, &fresh}) {
    std::size_t i = 0;
    again->VisitPages([&](const GalleryPage& page) {
      if (i < sizes.size()) {
        EXPECT_EQ(SizeOf(page.window), sizes[i])
            << page.window_name.toStdString() << "/" << page.page.toStdString() << "; language "
            << language << ", scale " << scale << (again == &fresh ? ", started in it" : "");
      }
      ++i;
    });
  }
}

// Captions too long for one row of tabs on the screen: the pages are listed
// down the side instead, each caption whole, and the tabs come back with
// captions that fit.
TEST(DialogPageListTest, PagesAreListedWhereTheirTabsCannotFit) {
  TempDir folder;
  std::string file = ReadFile(SENTREL_SOURCE_DIR "/resources/lang/English.lng");
  const std::string general = "General=&General\n";
  const std::size_t at = file.find(general);
  ASSERT_NE(at, std::string::npos);
  // Wider than any screen the test runs on, at either scale.
  std::string caption = "General=&General";
  for (int i = 0; i < 30; ++i) caption += " settings";
  file.replace(at, general.size(), caption + "\n");
  PutFile(folder.Path() + "/Long.lng", file);
  DialogGallery gallery(folder.Path());
  int listed = 0;
  for (const char* language : {"Long", "English"}) {
    gallery.ApplyLanguage(language);
    gallery.VisitPages([&](const GalleryPage& page) {
      if (page.window_name != "HostForm") return;
      for (const std::string& part : CutParts(page.window)) {
        ADD_FAILURE() << page.page.toStdString() << ": " << part << "; language " << language;
      }
      const auto* list = page.window.findChild<QListWidget*>("PagesList");
      ASSERT_NE(list, nullptr);
      const bool tabs = page.window.findChild<QTabWidget*>("Pages")->tabBar()->isVisible();
      EXPECT_NE(list->isVisible(), tabs) << language;
      listed += list->isVisible() ? 1 : 0;
      EXPECT_EQ(list->currentRow(), page.window.findChild<QTabWidget*>("Pages")->currentIndex());
    });
  }
  EXPECT_EQ(listed, 7) << "every page of the long language listed, none of English";
}

INSTANTIATE_TEST_SUITE_P(Languages, DialogLayoutTest,
                         ::testing::Values("English", "German", "Russian"),
                         [](const auto& test) { return std::string(test.param); });

}  // namespace
}  // namespace sentrel::testing
