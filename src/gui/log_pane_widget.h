#pragma once

#include <QPlainTextEdit>

#include "core/event_log.h"

namespace sentrel {

// The main window's log pane: read-only, lines wrap, the newest line kept in
// view. Once it holds more than the pane limit, every new entry first drops
// the two oldest lines, so the pane stays small however long the program runs.
class LogPaneWidget final : public QPlainTextEdit, public LogPane {
 public:
  explicit LogPaneWidget(QWidget* parent = nullptr);
  void Append(const std::string& text) override;
};

}  // namespace sentrel
