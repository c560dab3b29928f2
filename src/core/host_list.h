#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "core/host_entry.h"
#include "platform/desktop.h"

namespace sentrel {

inline constexpr std::size_t kMaxHosts = 1024;

// The host properties dialog as the list sees it.
class HostEditor {
 public:
  virtual ~HostEditor() = default;
  // Shows the host's settings, modally. On OK (settings checked) the edited
  // values are copied into `host` and true is returned; on Cancel the host is
  // left exactly as it was and false is returned. The list recomputes
  // NextCheck and applies the settings afterwards. Window thread only.
  virtual bool EditHost(HostEntry& host) = 0;
};

// What the list hands on to the check loop and the window. Every call is made
// on the window thread; the empty defaults let a caller take only what it needs.
class HostListObserver {
 public:
  virtual ~HostListObserver() = default;
  // The host's settings are new (added, loaded or confirmed in the dialog) and
  // its NextCheck has been recomputed: hand them to its probe and worker.
  virtual void ApplySettings(HostEntry& /*host*/) {}
  // A row change notification set the host's Enabled: while checks run, the
  // worker of an enabled host runs and that of a disabled one is paused.
  virtual void EnabledChanged(HostEntry& /*host*/) {}
  // The list must be written to the data file now.
  virtual void SaveNow() {}
  // The host is about to be deleted: nothing may use it afterwards.
  virtual void Removing(HostEntry& /*host*/) {}
};

// The hosts of the list as they stood after one change, in row order.
using HostSnapshot = std::vector<std::shared_ptr<const HostEntry>>;

// The ordered hosts of the main list, one per row, with the state the main
// window keeps beside them. Rows are 0-based here; DefaultIndex is 1-based as
// it always was (0 = no default host). Window thread only, except Snapshot:
// the workers touch their own HostEntry, never the list.
class HostList {
 public:
  explicit HostList(const Clock& clock, HostListObserver* observer = nullptr);
  // Clear.
  ~HostList();
  HostList(const HostList&) = delete;
  HostList& operator=(const HostList&) = delete;

  std::size_t Count() const { return hosts_.size(); }
  bool Empty() const { return hosts_.empty(); }
  bool Full() const { return hosts_.size() >= kMaxHosts; }
  HostEntry& Host(std::size_t row) { return *hosts_.at(row); }
  const HostEntry& Host(std::size_t row) const { return *hosts_.at(row); }
  // The rows as of the latest change of the list, for readers on other
  // threads (the metrics endpoint): any thread, never waits for the window
  // thread. A host deleted meanwhile stays readable through the snapshot;
  // its worker and probes are already gone, only its figures remain.
  std::shared_ptr<const HostSnapshot> Snapshot() const { return snapshot_.load(); }

  // Whether `host` is still on the list (a command that yields to the
  // window may see it deleted meanwhile).
  bool Contains(const HostEntry& host) const;

  int DefaultIndex() const { return defaultIndex_; }
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  bool Loading() const { return loading_; }
  void SetLoading(bool loading) { loading_ = loading; }
  // Why the data file could not be read at start; empty when it was read
  // (or did not exist). While set, the file is never written over.
  const std::string& LoadError() const { return loadError_; }
  void SetLoadError(std::string error) { loadError_ = std::move(error); }

  // A host with every default and its NextCheck computed for now.
  std::unique_ptr<HostEntry> CreateHost() const;
  // CreateHost, seeded with the default host's settings when there is one.
  std::unique_ptr<HostEntry> CreateHostFromDefault() const;

  // The Add command. With kMaxHosts hosts present the refusal box is shown
  // and nothing else happens. Otherwise a new host seeded from the default
  // host goes to the editor; on OK it is appended with a clear check box and
  // Modified is set, on Cancel it is discarded. Returns the new row (to
  // select), or nothing when refused or cancelled.
  std::optional<std::size_t> AddHost(HostEditor& editor, Desktop& desktop);

  // Appends a host prepared without the dialog (usually from
  // CreateHostFromDefault) as Add does after OK, keeping its Enabled. Returns
  // the new row, or nothing when the list is full (no message is shown).
  std::optional<std::size_t> AppendHost(std::unique_ptr<HostEntry> host);

  // Appends a host read from the data file: no default-mark rules (the last
  // marked host becomes DefaultIndex), Modified untouched. False when full.
  bool AdoptLoadedHost(std::unique_ptr<HostEntry> host);

  // The Edit command on `row`. On OK the host's NextCheck is recomputed, its
  // settings applied, the default mark moved as needed and Modified set.
  // Returns whether the editor confirmed.
  bool EditHost(std::size_t row, HostEditor& editor);

  // The Delete command on `row`: destroys the host and adjusts DefaultIndex.
  // Returns the row to select next: the one before, or row 0 when the first
  // row went; nothing when the list is now empty or `row` does not exist.
  std::optional<std::size_t> DeleteHost(std::size_t row);

  // Row change notification for a check box: ignored while Loading. Enabled
  // takes the box's state and Modified is set; when Enabled really changed,
  // the failure and repeat counters restart and the list is saved at once.
  void SetRowChecked(std::size_t row, bool checked);
  // Row change notification for a selection change: sets Modified (ignored
  // while Loading), so the next save rewrites the file.
  void SelectionChanged(std::size_t row);

  // Puts the rows in a new order: row i takes the host that was in row
  // order[i] (`order` is a permutation of the rows; anything else is
  // refused). DefaultIndex follows the default host to its new row.
  // Modified is not set: the order is not a change of the list's contents.
  bool Reorder(const std::vector<std::size_t>& order);

  // Removes every host (the main window closing).
  void Clear();

 private:
  void ApplySettings(HostEntry& host);
  void MarkDefault(std::size_t row);
  void PublishSnapshot();
  // Takes the host off the list on this thread: a snapshot may hold the
  // entry a little longer, and must never be the one to end its worker.
  static void Retire(std::shared_ptr<HostEntry>& host);

  const Clock& clock_;
  HostListObserver* observer_;
  std::vector<std::shared_ptr<HostEntry>> hosts_;
  std::atomic<std::shared_ptr<const HostSnapshot>> snapshot_{std::make_shared<const HostSnapshot>()};
  int defaultIndex_ = 0;
  std::string loadError_;
  bool modified_ = false;
  bool loading_ = false;
};

}  // namespace sentrel
