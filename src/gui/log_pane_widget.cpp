#include "gui/log_pane_widget.h"

#include <QScrollBar>
#include <QTextBlock>

namespace sentrel {

LogPaneWidget::LogPaneWidget(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName("LogPane");
  setAccessibleName("Log");
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setBackgroundRole(QPalette::Window);
  // An undo history of a log would only grow.
  setUndoRedoEnabled(false);
}

void LogPaneWidget::Append(const std::string& text) {
  QTextDocument* doc = document();
  // characterCount counts the final paragraph separator too.
  if (static_cast<std::size_t>(doc->characterCount() - 1) > kLogPaneLimit) {
    QTextCursor head(doc);
    head.movePosition(QTextCursor::Start);
    head.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, 2);
    head.removeSelectedText();
  }
  QString added = QString::fromStdString(text);
  added.remove(QLatin1Char('\r'));
  QTextCursor end(doc);
  end.movePosition(QTextCursor::End);
  end.insertText(added);
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace sentrel
