#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <QTimer>
#include <QWidget>

#include "common/clock.h"
#include "core/result_recorder.h"
#include "history/history_period.h"
#include "history/history_types.h"
#include "history/period_figures.h"
#include "settings/ini_file.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QTableWidget;

namespace sentrel {

class HistoryGraph;

// A host of the list as the history window sees it.
struct ListedHost {
  HistoryHost host;
  std::array<int32_t, 4> lightTimes{};
};

struct HistoryWindowServices {
  std::string databasePath;
  const Clock& clock;
  // The hosts on the list now, read at each reload: their light limits, and
  // which hosts of the history have left the list (the built-in limits
  // apply to those).
  std::function<std::vector<ListedHost>()> listedHosts;
};

// The history of one host: the round-trip graph of the last hour, day, week
// or month, the figures of that period, the outage table with each outage's
// trace, and the export of the period as CSV. Any host the history knows
// can be chosen, also one that has left the list. Reads the database on
// each change of host or period and once a minute while shown.
class HistoryWindow final : public QWidget {
 public:
  explicit HistoryWindow(HistoryWindowServices services, QWidget* parent = nullptr);

  // Shows `host` (or the first host the history knows), reading the
  // database afresh.
  void ShowHost(const std::optional<HistoryHost>& host);
  void SetPeriod(HistoryPeriod period);
  HistoryPeriod Period() const { return period_; }
  void Reload();
  // The captions and texts of the language file, or the built-in English
  // ones without a file.
  void ApplyLanguage(const std::optional<IniFile>& file);

  // The period's rows as CSV: minutes for an hour, day or week, hours for a
  // month. False with a reason when the file cannot be written.
  bool ExportCsv(const std::string& path, std::string* error) const;

  HistoryGraph& Graph() { return *graph_; }
  QTableWidget& OutageTable() { return *outages_; }
  // The value shown beside a figure: "Availability", "Loss", "Average",
  // "Jitter", "Range", "Outages", "Outage time", "Monitored".
  QString FigureText(const QString& name) const;
  // The host shown, if any.
  std::optional<HistoryHost> Host() const { return host_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString Caption(const char* key) const;
  // A check's failure status: its number and its words in the window's
  // language.
  QString StatusText(uint32_t status) const;
  // Why the history cannot be shown, in the window's language; `error` is
  // the reader's reason.
  QString OpenFailure(const std::string& error) const;
  void ChooseExport();
  void ShowFigures(const PeriodFigures& figures);
  // `now` is the moment the outages were read up to.
  void ShowOutages(const std::vector<OutageRow>& outages, int64_t now);
  void ShowTrace();
  const OutageRow* SelectedOutage() const;

  HistoryWindowServices services_;
  HistoryPeriod period_ = HistoryPeriod::Day;
  std::optional<HistoryHost> host_;
  std::vector<HistoryHost> hosts_;  // the chooser's entries
  std::vector<OutageRow> shownOutages_;
  std::optional<IniFile> language_;

  QComboBox* chooser_;
  QButtonGroup* periods_;
  HistoryGraph* graph_;
  std::map<QString, QLabel*> figures_;
  QTableWidget* outages_;
  QPlainTextEdit* trace_;
  QLabel* state_;
  QTimer refresh_;
};

}  // namespace sentrel
