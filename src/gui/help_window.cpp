#include "gui/help_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTextBrowser>
#include <QTextStream>
#include <QVBoxLayout>
#include <QWindow>

namespace sentrel {

std::vector<std::string> HelpFolders(const std::string& programFolder) {
  std::vector<std::string> folders;
  if (!programFolder.empty()) {
    folders.push_back(programFolder + "/help");
    folders.push_back(QDir::cleanPath(QString::fromStdString(programFolder + "/../share/sentrel/help"))
                          .toStdString());
  }
  folders.push_back(SENTREL_HELP_DIR);
  return folders;
}

HelpWindow::HelpWindow(std::vector<std::string> folders, QWidget* parent)
    : QDialog(parent),
      folders_(std::move(folders)),
      untranslated_(new QLabel(this)),
      browser_(new QTextBrowser(this)) {
  setWindowTitle("Sentrel Help");
  setObjectName("HelpWindow");
  untranslated_->setObjectName("HelpNotTranslated");
  untranslated_->setWordWrap(true);
  untranslated_->setMargin(6);
  untranslated_->hide();
  browser_->setObjectName("HelpText");
  browser_->setAccessibleName("Help");
  browser_->setOpenExternalLinks(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(untranslated_);
  layout->addWidget(browser_);
  resize(640, 520);
}

std::string HelpWindow::ContentsPath() const {
  const QString folder = !folder_.isEmpty()          ? folder_
                         : folders_.empty()          ? QString()
                                                     : QString::fromStdString(folders_.front());
  return (folder + "/index.html").toStdString();
}

void HelpWindow::LoadTopics() {
  topics_.clear();
  // Lines "<number> <page>[#anchor]"; anything else is skipped.
  QFile contexts(folder_ + "/contexts.txt");
  if (!contexts.open(QIODevice::ReadOnly | QIODevice::Text)) return;
  QTextStream in(&contexts);
  while (!in.atEnd()) {
    const QStringList parts = in.readLine().simplified().split(' ');
    bool ok = false;
    const int number = parts.value(0).toInt(&ok);
    if (ok && parts.size() >= 2) topics_[number] = parts[1];
  }
}

void HelpWindow::ApplyLanguage(const QString& title, const QString& untranslated,
                               const std::string& locale) {
  setWindowTitle(title);
  untranslated_->setText(untranslated);
  locale_ = locale;
}

bool HelpWindow::SaysUntranslated() const { return !untranslated_->isHidden(); }

bool HelpWindow::Show(int command, int context) {
  // Looked for on every call: pages installed while the program runs count.
  // Pages in the window's language come first, from any folder.
  folder_.clear();
  const QString translated = QString::fromStdString(locale_.empty() ? std::string() : "/" + locale_);
  for (const QString& language : {translated, QString()}) {
    for (const std::string& folder : folders_) {
      const QString candidate = QString::fromStdString(folder) + language;
      if (folder_.isEmpty() && QFileInfo(candidate + "/index.html").isFile()) folder_ = candidate;
    }
    if (!folder_.isEmpty()) {
      untranslated_->setVisible(!translated.isEmpty() && language.isEmpty());
      break;
    }
  }
  if (folder_.isEmpty()) return false;
  LoadTopics();
  QString page = "index.html";
  if (command == 15) {
    if (auto it = topics_.find(context); it != topics_.end()) page = it->second;
  }
  const QString file = page.section('#', 0, 0);
  QUrl url = QUrl::fromLocalFile(folder_ + "/" + file);
  if (page.contains('#')) url.setFragment(page.section('#', 1));
  browser_->setSource(url);
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
