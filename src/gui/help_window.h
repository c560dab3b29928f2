#pragma once

#include <map>
#include <string>
#include <vector>

#include <QDialog>

class QLabel;
class QTextBrowser;

namespace sentrel {

// The program's help: HTML pages shipped beside the program, shown in a
// window of its own so that help works without a browser. Context numbers
// name topics through the pages' contexts.txt.
class HelpWindow final : public QDialog {
 public:
  // The pages are taken from the first of `folders` that holds index.html.
  explicit HelpWindow(std::vector<std::string> folders, QWidget* parent = nullptr);

  // command 1: the table of contents; 15: the topic of `context` (the
  // table of contents when the number is unknown). False when no folder
  // holds the pages.
  bool Show(int command, int context);
  // The contents page looked for (in the first folder when none has it),
  // for the message that tells it is missing.
  std::string ContentsPath() const;

  // The window's title, and the language of the pages to show: the pages
  // of a folder named by `locale` beside the English ones when there are
  // such, else the English pages under a line that says so
  // (`untranslated`). An empty locale is English.
  void ApplyLanguage(const QString& title, const QString& untranslated, const std::string& locale);
  // Whether the line that the pages are English shows.
  bool SaysUntranslated() const;

 private:
  void LoadTopics();

  std::vector<std::string> folders_;
  std::string locale_;
  QLabel* untranslated_;
  QString folder_;  // where the pages were found; empty when nowhere
  QTextBrowser* browser_;
  std::map<int, QString> topics_;
};

// Where the help pages are looked for: the program's folder ("help" beside
// the executable), then the installed data folder.
std::vector<std::string> HelpFolders(const std::string& programFolder);

}  // namespace sentrel
