#pragma once

#include <string>
#include <thread>
#include <vector>

#include <QWidget>

#include "notify/notify_target.h"

class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace sentrel {

class Desktop;
class Registry;

// The values of a target as the dialog's text shows them: one "KEY=VALUE"
// a line, in their order.
std::string TargetValuesText(const NotifyTarget& target);
// The lines of that text as values; blank lines are skipped, a line
// without "=" is a value name with an empty value.
std::vector<std::pair<std::string, std::string>> ParseTargetValues(const std::string& text);

// The options dialog's page "Notifications": the notification targets with
// Add, Edit, Remove and Test, and the targets that also receive the status
// message. The page edits a copy; Store writes it on a confirmed "Ok". The
// test sends a "test" event on a thread of its own and shows the answer
// below the list when it comes, so the window never waits for it. Every
// control is named by its language key. Window thread only.
class NotificationsPage final : public QWidget {
 public:
  NotificationsPage(Desktop& desktop, QWidget* parent);
  // Ends a test still waiting for its answer (within about a second).
  ~NotificationsPage() override;

  void Load(const Registry& registry, const std::string& statusTargets);
  // Writes the targets as edited into `registry`: the ones removed or
  // renamed go, the others are stored anew. Does not save it.
  void Store(Registry& registry) const;
  std::string StatusTargets() const;

 private:
  void NameForScreenReaders();
  void Refill();
  int Selected() const;
  void Add();
  void Edit();
  void Remove();
  void Test();
  // Shows the target in the target dialog; true when confirmed with a
  // target that can be stored (a problem is shown and the dialog stays).
  bool EditInDialog(NotifyTarget& target);
  QDialog* BuildTargetDialog();

  Desktop& desktop_;
  std::vector<NotifyTarget> targets_;
  std::vector<std::string> removed_;
  QLabel* targetsLabel_;
  QListWidget* list_;
  QPushButton* add_;
  QPushButton* edit_;
  QPushButton* remove_;
  QPushButton* test_;
  QLabel* answer_;
  QLineEdit* statusTargets_;
  QDialog* dialog_;
  QLineEdit* name_ = nullptr;
  QComboBox* kind_ = nullptr;
  QLineEdit* url_ = nullptr;
  QPlainTextEdit* values_ = nullptr;
  std::jthread tester_;
};

}  // namespace sentrel
