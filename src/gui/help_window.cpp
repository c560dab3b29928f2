#include "gui/help_window.h"

#include <QApplication>
#include <QFile>
#include <QTextBrowser>
#include <QTextStream>
#include <QVBoxLayout>
#include <QWindow>

namespace sentrel {

namespace {

constexpr const char* kContents = "qrc:/help/index.html";

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent), browser_(new QTextBrowser(this)) {
  setWindowTitle("Sentrel Help");
  setObjectName("HelpWindow");
  browser_->setObjectName("HelpText");
  browser_->setOpenExternalLinks(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  resize(640, 520);
  // Lines "<number> <page>[#anchor]"; anything else is skipped.
  QFile contexts(":/help/contexts.txt");
  if (contexts.open(QIODevice::ReadOnly | QIODevice::Text)) {
    QTextStream in(&contexts);
    while (!in.atEnd()) {
      const QStringList parts = in.readLine().simplified().split(' ');
      bool ok = false;
      const int number = parts.value(0).toInt(&ok);
      if (ok && parts.size() >= 2) topics_[number] = "qrc:/help/" + parts[1];
    }
  }
}

bool HelpWindow::Show(int command, int context) {
  if (!QFile::exists(":/help/index.html")) return false;
  QString page = kContents;
  if (command == 15) {
    if (auto it = topics_.find(context); it != topics_.end()) page = it->second;
  }
  browser_->setSource(QUrl(page));
  // Help asked for from a modal dialog (the options' "Help") belongs to that
  // dialog: above it, although the dialog stays on top, and not blocked by
  // its modality. Asked for from anywhere else, it stands on its own.
  QWidget* modal = QApplication::activeModalWidget();
  winId();
  windowHandle()->setTransientParent(modal && modal != this ? modal->windowHandle() : nullptr);
  show();
  raise();
  activateWindow();
  return true;
}

}  // namespace sentrel
