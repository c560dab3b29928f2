#pragma once

#include <QDialog>

namespace sentrel {

// The about box: the program's name, version, what it is, and its licence.
class AboutBox final : public QDialog {
 public:
  explicit AboutBox(QWidget* parent = nullptr);
  // Shows the box modally, unless it is already on the screen.
  void ShowModal();
};

}  // namespace sentrel
