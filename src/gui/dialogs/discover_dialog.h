#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <QDialog>
#include <QTimer>

#include "core/host_list.h"
#include "probes/sweep.h"
#include "settings/ini_file.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace sentrel {

// "Discover hosts" ("DiscoverForm"): sweeps an address range with one echo
// request per address on a thread of its own, with a progress bar, then
// lists the answering addresses with their reverse name and reply time,
// those not listed yet ticked. "Add selected" closes the dialog with the
// ticked ones (Selected); "Cancel" stops a sweep at once, else closes.
// Controls are named by their caption keys; the range field is
// "RangeEdit", the table "FoundTable", the bar "SweepProgress", the status
// line "SweepStatus". Window thread only.
class DiscoverDialog final : public QDialog {
 public:
  DiscoverDialog(const HostList& list, std::shared_ptr<IcmpLibrary> library,
                 const std::optional<IniFile>& language, QWidget* parent = nullptr,
                 SweepSettings settings = {});
  ~DiscoverDialog() override;

  // The ticked answers, after "Add selected".
  std::vector<SweepAnswer> Selected() const;
  // Starts the sweep of `range` as the Start button does.
  void StartSweep(const QString& range);

 protected:
  void reject() override;

 private:
  QString Caption(const char* key) const;
  void Poll();
  void ShowFound();
  void EndSweep();

  const HostList& list_;
  std::shared_ptr<IcmpLibrary> library_;
  SweepSettings settings_;
  std::optional<IniFile> language_;
  std::unique_ptr<Sweep> sweep_;
  std::vector<SweepAnswer> found_;
  std::atomic<std::size_t> ended_{0};
  std::atomic<bool> done_{false};
  std::size_t total_ = 0;
  QTimer poll_;
  QLineEdit* range_;
  QPushButton* start_;
  QProgressBar* progress_;
  QTableWidget* table_;
  QLabel* status_;
  QPushButton* add_;
  std::thread thread_;  // last: ends before the members it uses
};

}  // namespace sentrel
