#pragma once

#include <map>

#include <QDialog>

class QTextBrowser;

namespace sentrel {

// The program's help: HTML pages compiled into the program, shown in a
// window of its own so that help works without a browser. Context numbers
// name topics through the pages' contexts.txt.
class HelpWindow final : public QDialog {
 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // command 1: the table of contents; 15: the topic of `context` (the
  // table of contents when the number is unknown). False when the pages are
  // missing from the program.
  bool Show(int command, int context);

 private:
  QTextBrowser* browser_;
  std::map<int, QString> topics_;
};

}  // namespace sentrel
