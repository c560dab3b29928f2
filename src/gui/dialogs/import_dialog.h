#pragma once

#include <atomic>
#include <optional>
#include <thread>

#include <QDialog>
#include <QTimer>

#include "core/host_import.h"
#include "settings/ini_file.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace sentrel {

// The preview of an import ("ImportForm"): every row of the file with its
// line, address, name and what will happen to it, before anything is
// added. Host names are looked up on a thread of the dialog's meanwhile,
// with a progress bar; "Add hosts" is offered once they all are. Controls
// are named by their caption keys; the table is "ImportTable", the bar
// "ImportProgress", the status line "ImportStatus". Window thread only.
class ImportDialog final : public QDialog {
 public:
  // `plan` has been checked against the list; it must outlive the dialog,
  // which fills in the lookups' warnings.
  ImportDialog(ImportPlan& plan, const QString& file, const std::optional<IniFile>& language,
               NameResolver resolves, QWidget* parent = nullptr);
  ~ImportDialog() override;

 protected:
  void reject() override;

 private:
  QString Caption(const char* key) const;
  QString OutcomeText(const ImportRow& row) const;
  void FillTable();
  void Poll();
  void FinishLookups();

  ImportPlan& plan_;
  std::optional<IniFile> language_;
  std::jthread lookups_;
  std::atomic<std::size_t> looked_{0};
  std::atomic<std::size_t> toLook_{0};
  std::atomic<bool> lookedUp_{false};
  QTimer poll_;
  QTableWidget* table_;
  QProgressBar* progress_;
  QLabel* status_;
  QPushButton* import_;
};

}  // namespace sentrel
