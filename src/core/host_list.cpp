#include "core/host_list.h"

#include <algorithm>
#include <utility>

#include "core/host_parents.h"

namespace sentrel {

HostList::HostList(const Clock& clock, HostListObserver* observer)
    : clock_(clock), observer_(observer) {}

HostList::~HostList() { Clear(); }

std::unique_ptr<HostEntry> HostList::CreateHost() const {
  auto host = std::make_unique<HostEntry>();
  host->NextCheck = NextCheckTime(*host, clock_.Now());
  return host;
}

std::unique_ptr<HostEntry> HostList::CreateHostFromDefault() const {
  auto host = CreateHost();
  if (defaultIndex_ > 0 && static_cast<std::size_t>(defaultIndex_) <= hosts_.size()) {
    CopyDefaults(*hosts_[static_cast<std::size_t>(defaultIndex_) - 1], *host);
    host->NextCheck = NextCheckTime(*host, clock_.Now());
  }
  return host;
}

std::optional<std::size_t> HostList::AddHost(HostEditor& editor, Desktop& desktop) {
  if (Full()) {
    desktop.ShowMessage("Too many hosts!!!", "Warning!!!", MessageIcon::Warning);
    return std::nullopt;
  }
  auto host = CreateHostFromDefault();
  if (!editor.EditHost(*host)) return std::nullopt;
  // A new row always starts unticked, whatever the editor did.
  host->Enabled = false;
  return AppendHost(std::move(host));
}

std::optional<std::size_t> HostList::AppendHost(std::unique_ptr<HostEntry> host) {
  if (!host || Full()) return std::nullopt;
  ApplySettings(*host);
  hosts_.push_back(std::move(host));
  PublishSnapshot();
  const std::size_t row = hosts_.size() - 1;
  // A host marked as default in the dialog takes the mark from the old one,
  // as Edit does, so that DefaultIndex always names the marked host.
  MarkDefault(row);
  modified_ = true;
  return row;
}

bool HostList::AdoptLoadedHost(std::unique_ptr<HostEntry> host) {
  if (!host || Full()) return false;
  const bool isDefault = host->UseAsDefault;
  hosts_.push_back(std::move(host));
  PublishSnapshot();
  if (isDefault) defaultIndex_ = static_cast<int>(hosts_.size());
  ApplySettings(*hosts_.back());
  return true;
}

bool HostList::EditHost(std::size_t row, HostEditor& editor) {
  if (row >= hosts_.size()) return false;
  HostEntry& host = *hosts_[row];
  const std::string oldKey = ParentKey(host);
  if (!editor.EditHost(host)) return false;
  // The hosts reached through this one follow it to its new address.
  if (const std::string key = ParentKey(host); key != oldKey) {
    for (const auto& other : hosts_) {
      if (other.get() != &host && !oldKey.empty() && other->Parent.Get() == oldKey) other->Parent.Set(key);
    }
  }
  ApplySettings(host);
  MarkDefault(row);
  modified_ = true;
  return true;
}

bool HostList::Contains(const HostEntry& host) const {
  return std::any_of(hosts_.begin(), hosts_.end(),
                     [&host](const std::shared_ptr<HostEntry>& entry) { return entry.get() == &host; });
}

std::optional<std::size_t> HostList::DeleteHost(std::size_t row) {
  if (row >= hosts_.size()) return std::nullopt;
  if (observer_) observer_->Removing(*hosts_[row]);
  std::shared_ptr<HostEntry> gone = std::move(hosts_[row]);
  hosts_.erase(hosts_.begin() + static_cast<std::ptrdiff_t>(row));
  PublishSnapshot();
  Retire(gone);
  const int number = static_cast<int>(row) + 1;
  if (number == defaultIndex_) {
    defaultIndex_ = 0;
  } else if (number < defaultIndex_) {
    --defaultIndex_;
  }
  modified_ = true;
  if (hosts_.empty()) return std::nullopt;
  return row == 0 ? 0 : row - 1;
}

void HostList::SetRowChecked(std::size_t row, bool checked) {
  if (loading_ || row >= hosts_.size()) return;
  HostEntry& host = *hosts_[row];
  const bool changed = host.Enabled.exchange(checked) != checked;
  modified_ = true;
  if (observer_) observer_->EnabledChanged(host);
  if (!changed) return;
  // A host switched off and on again starts counting afresh, so an alarm
  // needs its full RepeatCount again.
  host.FailCount = 0;
  host.OnRenewal.RepeatCounter = 0;
  host.OnLoss.RepeatCounter = 0;
  if (observer_) observer_->SaveNow();
}

void HostList::SelectionChanged(std::size_t row) {
  if (row >= hosts_.size()) return;
  SetRowChecked(row, hosts_[row]->Enabled);
}

bool HostList::Reorder(const std::vector<std::size_t>& order) {
  if (order.size() != hosts_.size()) return false;
  std::vector<bool> seen(hosts_.size(), false);
  for (std::size_t from : order) {
    if (from >= hosts_.size() || seen[from]) return false;
    seen[from] = true;
  }
  const HostEntry* marked = defaultIndex_ > 0 ? hosts_[static_cast<std::size_t>(defaultIndex_) - 1].get()
                                              : nullptr;
  std::vector<std::shared_ptr<HostEntry>> reordered;
  reordered.reserve(hosts_.size());
  for (std::size_t from : order) reordered.push_back(std::move(hosts_[from]));
  hosts_ = std::move(reordered);
  PublishSnapshot();
  for (std::size_t row = 0; marked && row < hosts_.size(); ++row) {
    if (hosts_[row].get() == marked) defaultIndex_ = static_cast<int>(row) + 1;
  }
  return true;
}

void HostList::Clear() {
  std::vector<std::shared_ptr<HostEntry>> gone;
  gone.swap(hosts_);
  PublishSnapshot();
  for (auto& host : gone) Retire(host);
  defaultIndex_ = 0;
}

void HostList::PublishSnapshot() {
  snapshot_.store(std::make_shared<const HostSnapshot>(hosts_.begin(), hosts_.end()));
}

void HostList::Retire(std::shared_ptr<HostEntry>& host) {
  host->ReleaseActiveObjects();
  host.reset();
}

void HostList::ApplySettings(HostEntry& host) {
  host.NextCheck = NextCheckTime(host, clock_.Now());
  if (observer_) observer_->ApplySettings(host);
}

void HostList::MarkDefault(std::size_t row) {
  const int number = static_cast<int>(row) + 1;
  if (hosts_[row]->UseAsDefault) {
    if (defaultIndex_ != 0 && defaultIndex_ != number &&
        static_cast<std::size_t>(defaultIndex_) <= hosts_.size()) {
      hosts_[static_cast<std::size_t>(defaultIndex_) - 1]->UseAsDefault = false;
    }
    defaultIndex_ = number;
  } else if (defaultIndex_ == number) {
    defaultIndex_ = 0;
  }
}

}  // namespace sentrel
