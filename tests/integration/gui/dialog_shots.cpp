// Saves a picture of every dialog page in each language named on the
// command line: dialog_shots LANGUAGE_FOLDER OUTPUT_FOLDER LANGUAGE...
// Pictures are named <language>-x<scale>-<window>-<page>.png.
#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include "dialog_gallery.h"
#include "gui/artwork.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: dialog_shots LANGUAGE_FOLDER OUTPUT_FOLDER LANGUAGE...\n");
    return 2;
  }
  QApplication app(argc, argv);
  sentrel::InitArtwork();
  const QString output = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(output);
  const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
  sentrel::testing::DialogGallery gallery(argv[1]);
  int failed = 0;
  for (int i = 3; i < argc; ++i) {
    const QString language = QString::fromLocal8Bit(argv[i]);
    gallery.ApplyLanguage(argv[i]);
    gallery.VisitPages([&](const sentrel::testing::GalleryPage& page) {
      const QString file = QString("%1/%2-x%3-%4-%5.png")
                               .arg(output, language, scale, page.window_name, page.page);
      if (!page.window.grab().save(file)) {
        std::fprintf(stderr, "dialog_shots: cannot write %s\n", qPrintable(file));
        ++failed;
      }
    });
  }
  return failed == 0 ? 0 : 1;
}
