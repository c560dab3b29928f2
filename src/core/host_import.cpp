#include "core/host_import.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <map>
#include <set>
#include <thread>

#include "common/csv.h"
#include "core/host_parents.h"
#include "settings/text_model.h"

namespace sentrel {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

enum Column { kAddress, kName, kDescription, kInterval, kEnabled, kParent, kColumnCount };

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The data file has no escaping: a line break or a "<" in a value would end
// its element or its block early and lose the hosts after it.
bool SafeText(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 32 || c == '<' || c == '>';
  });
}

std::optional<int32_t> PositiveSeconds(std::string_view text) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

// Empty: the column says nothing. The words spreadsheets and people use.
bool ParseEnabled(std::string_view text, std::optional<bool>& enabled) {
  const std::string word = Lower(text);
  if (word.empty()) return true;
  for (const char* yes : {"1", "yes", "y", "true", "t", "x", "on", "enabled"}) {
    if (word == yes) return enabled = true, true;
  }
  for (const char* no : {"0", "no", "n", "false", "f", "off", "disabled", "-"}) {
    if (word == no) return enabled = false, true;
  }
  return false;
}

// The same host, however it was written: the canonical address, or the
// name in lower case without the root's dot.
std::string HostKey(const HostAddressCheck& checked) {
  if (checked.kind == HostAddressKind::Address) return "a:" + checked.text;
  std::string name = Lower(checked.text);
  if (name.size() > 1 && name.back() == '.') name.pop_back();
  return "n:" + name;
}

void Reject(ImportRow& row, ImportReason reason) {
  row.fate = ImportFate::Reject;
  row.reason = reason;
}

void CheckRow(ImportRow& row) {
  row.checked = CheckHostAddress(row.address);
  if (row.checked.kind == HostAddressKind::Refused) {
    row.fault = row.checked.fault;
    return Reject(row, ImportReason::BadAddress);
  }
  if (!SafeText(row.name) || !SafeText(row.description)) return Reject(row, ImportReason::UnsafeText);
  // A host pinged by name shows that name; a second one has no place.
  if (row.checked.kind == HostAddressKind::Name && !row.name.empty() &&
      Lower(row.name) != Lower(row.checked.text))
    return Reject(row, ImportReason::NameForName);
}

// Each host once: a later line with the same host is skipped.
void SkipRepeats(ImportPlan& plan) {
  std::map<std::string, int> first;
  for (ImportRow& row : plan.rows) {
    if (row.fate != ImportFate::Add) continue;
    const auto [at, fresh] = first.emplace(HostKey(row.checked), row.line);
    if (!fresh) {
      row.fate = ImportFate::Skip;
      row.reason = ImportReason::Repeated;
      row.other = at->second;
    }
  }
}

void ReadCsvRows(ImportPlan& plan, std::string_view text, char separator) {
  const std::vector<CsvRecord> records = ParseCsv(text, separator);
  std::array<int, kColumnCount> index;
  index.fill(-1);
  const CsvRecord& header = records.front();
  for (std::size_t i = 0; i < header.fields.size(); ++i) {
    const std::string name = Lower(header.fields[i]);
    const auto* known = std::find(std::begin(kImportColumns), std::end(kImportColumns), name);
    const auto column = static_cast<std::size_t>(known - std::begin(kImportColumns));
    if (known != std::end(kImportColumns) && index[column] < 0) {
      index[column] = static_cast<int>(i);
    } else if (!name.empty()) {
      plan.ignoredColumns.push_back(header.fields[i]);
    }
  }
  for (std::size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    // Rows of nothing but separators are what spreadsheets leave at the end.
    if (std::all_of(record.fields.begin(), record.fields.end(),
                    [](const std::string& f) { return f.empty(); }))
      continue;
    const auto field = [&](Column c) -> std::string {
      const int i = index[c];
      return i >= 0 && static_cast<std::size_t>(i) < record.fields.size() ? record.fields[static_cast<std::size_t>(i)]
                                                                          : std::string();
    };
    ImportRow row;
    row.line = record.line;
    row.address = field(kAddress);
    row.name = field(kName);
    row.description = field(kDescription);
    row.parent = field(kParent);
    if (record.unclosedQuote) {
      Reject(row, ImportReason::UnclosedQuote);
    } else {
      CheckRow(row);
      if (row.fate == ImportFate::Add && !SafeText(row.parent)) Reject(row, ImportReason::UnsafeText);
      const std::string interval = field(kInterval);
      if (row.fate == ImportFate::Add && !interval.empty()) {
        row.interval = PositiveSeconds(interval);
        if (!row.interval) Reject(row, ImportReason::BadInterval);
      }
      if (row.fate == ImportFate::Add && !ParseEnabled(field(kEnabled), row.enabled))
        Reject(row, ImportReason::BadEnabled);
    }
    plan.rows.push_back(std::move(row));
  }
}

void ReadPlainRows(ImportPlan& plan, std::string_view text) {
  int line = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    ++line;
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view entry = text.substr(start, end - start);
    start = end + (text.substr(end).starts_with("\r\n") ? 2 : 1);
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
    if (entry.empty() || entry.front() == '#') continue;
    ImportRow row;
    row.line = line;
    row.address = std::string(entry);
    CheckRow(row);
    plan.rows.push_back(std::move(row));
  }
}

}  // namespace

ImportCounts ImportPlan::Counts() const {
  ImportCounts counts;
  for (const ImportRow& row : rows) {
    switch (row.fate) {
      case ImportFate::Add:
        ++counts.added;
        break;
      case ImportFate::Skip:
        ++counts.skipped;
        break;
      case ImportFate::Reject:
        ++counts.rejected;
        break;
    }
  }
  return counts;
}

ImportPlan ReadImportFile(std::string_view bytes) {
  ImportPlan plan;
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
  const std::string text = DecodeOutsideText(bytes);
  const std::size_t firstLine = text.find_first_not_of(" \t\r\n");
  if (firstLine == std::string::npos) return plan;
  const std::string_view head =
      std::string_view(text).substr(firstLine, text.find_first_of("\r\n", firstLine) - firstLine);
  const char separator = GuessCsvSeparator(head);
  const std::vector<CsvRecord> header = ParseCsv(head, separator);
  const bool named = !header.empty() &&
                     std::any_of(header.front().fields.begin(), header.front().fields.end(),
                                 [](const std::string& f) { return Lower(f) == "address"; });
  if (named) {
    plan.csv = true;
    ReadCsvRows(plan, text, separator);
  } else if (head.find_first_of(",;") != std::string_view::npos) {
    plan.fileError =
        "the first line is no header row naming an address column "
        "(address,name,description,interval,enabled,parent)";
    return plan;
  } else {
    ReadPlainRows(plan, text);
  }
  SkipRepeats(plan);
  return plan;
}

void CheckImportAgainst(ImportPlan& plan, const HostList& list) {
  std::map<std::string, int> listed;
  for (std::size_t r = 0; r < list.Count(); ++r) {
    const HostEntry& host = list.Host(r);
    const int row = static_cast<int>(r + 1);
    if (host.PingByIP) {
      const HostAddressCheck address = CheckHostAddress(host.HostIP.Get());
      if (address.kind == HostAddressKind::Address) listed.emplace(HostKey(address), row);
    }
    const HostAddressCheck name = CheckHostAddress(host.HostName.Get());
    if (name.kind != HostAddressKind::Refused) listed.emplace(HostKey(name), row);
  }
  // A parent is a listed host or one of the file (added or skipped alike).
  std::set<std::string> hosts;
  for (const auto& [key, row] : listed) hosts.insert(key);
  for (const ImportRow& row : plan.rows) {
    if (row.fate == ImportFate::Reject) continue;
    hosts.insert(HostKey(row.checked));
    if (const HostAddressCheck name = CheckHostAddress(row.name); name.kind != HostAddressKind::Refused)
      hosts.insert(HostKey(name));
  }
  for (ImportRow& row : plan.rows) {
    if (row.fate == ImportFate::Reject || row.parent.empty()) continue;
    const HostAddressCheck parent = CheckHostAddress(row.parent);
    if (parent.kind == HostAddressKind::Refused || !hosts.contains(HostKey(parent)))
      Reject(row, ImportReason::UnknownParent);
  }
  std::size_t room = kMaxHosts - std::min(kMaxHosts, list.Count());
  for (ImportRow& row : plan.rows) {
    if (row.fate != ImportFate::Add) continue;
    if (const auto hit = listed.find(HostKey(row.checked)); hit != listed.end()) {
      row.fate = ImportFate::Skip;
      row.reason = ImportReason::Listed;
      row.other = hit->second;
    } else if (room == 0) {
      Reject(row, ImportReason::ListFull);
    } else {
      --room;
    }
  }
}

void LookUpImportNames(ImportPlan& plan, const NameResolver& resolves,
                       const std::function<void(std::size_t, std::size_t)>& progress, int lookups,
                       std::stop_token stop) {
  std::vector<ImportRow*> names;
  for (ImportRow& row : plan.rows) {
    if (row.fate == ImportFate::Add && row.checked.kind == HostAddressKind::Name) names.push_back(&row);
  }
  // Lookups that fail may each wait for the resolver's time-out: many at once.
  std::atomic<std::size_t> next{0}, done{0};
  const auto lookUp = [&] {
    for (std::size_t i; !stop.stop_requested() && (i = next++) < names.size();) {
      if (!resolves(names[i]->checked.text)) names[i]->reason = ImportReason::DoesNotResolve;
      if (progress) progress(++done, names.size());
    }
  };
  std::vector<std::thread> threads;
  const auto count = std::min<std::size_t>(names.size(), static_cast<std::size_t>(std::max(lookups, 1)));
  for (std::size_t t = 1; t < count; ++t) threads.emplace_back(lookUp);
  lookUp();
  for (std::thread& thread : threads) thread.join();
}

std::vector<std::size_t> ApplyImport(const ImportPlan& plan, HostList& list) {
  std::vector<std::size_t> added;
  for (const ImportRow& row : plan.rows) {
    if (row.fate != ImportFate::Add) continue;
    auto host = list.CreateHostFromDefault();
    if (row.checked.kind == HostAddressKind::Address) {
      host->HostIP.Set(row.checked.text);
      host->HostName.Set(row.name);
    } else {
      // A name is looked up before every check, so a changed address is followed.
      host->PingByIP = false;
      host->HostName.Set(row.checked.text);
    }
    host->HostDesc.Set(row.description);
    if (row.interval) host->PingInterval = *row.interval;
    // A list handed over in bulk is meant to be checked.
    host->Enabled = row.enabled.value_or(true);
    if (const auto at = list.AppendHost(std::move(host))) added.push_back(*at);
  }
  // Parents last: a row may name a host further down the file.
  std::size_t next = 0;
  for (const ImportRow& row : plan.rows) {
    if (row.fate != ImportFate::Add || next >= added.size()) continue;
    HostEntry& host = list.Host(added[next++]);
    if (row.parent.empty()) continue;
    const auto hosts = list.Snapshot();
    const HostEntry* parent = FindHost(*hosts, CheckHostAddress(row.parent).text);
    if (!parent) continue;
    const std::string key = ParentKey(*parent);
    if (ParentLoopError(*hosts, host, key).empty()) host.Parent.Set(key);
  }
  return added;
}

std::optional<std::size_t> ListedRowOf(const HostList& list, const IpAddress& address) {
  const std::string key = "a:" + AddressText(address);
  for (std::size_t r = 0; r < list.Count(); ++r) {
    const HostEntry& host = list.Host(r);
    if (!host.PingByIP) continue;
    const HostAddressCheck listed = CheckHostAddress(host.HostIP.Get());
    if (listed.kind == HostAddressKind::Address && HostKey(listed) == key) return r;
  }
  return std::nullopt;
}

std::vector<std::size_t> AddFoundHosts(HostList& list, const std::vector<SweepAnswer>& found) {
  std::vector<std::size_t> added;
  for (const SweepAnswer& answer : found) {
    if (list.Full()) break;
    if (ListedRowOf(list, answer.address)) continue;
    auto host = list.CreateHostFromDefault();
    host->HostIP.Set(AddressText(answer.address));
    // A reverse name may hold what the data file cannot keep.
    if (SafeText(answer.name)) host->HostName.Set(answer.name);
    host->Enabled = true;
    if (const auto at = list.AppendHost(std::move(host))) added.push_back(*at);
  }
  return added;
}

std::string ImportRowText(const ImportRow& row) {
  switch (row.reason) {
    case ImportReason::None:
      return "add";
    case ImportReason::DoesNotResolve:
      return "add (" + std::string(kDoesNotResolveNow) + ")";
    case ImportReason::Listed:
      return "skip: already listed in row " + std::to_string(row.other);
    case ImportReason::Repeated:
      return "skip: the same host as line " + std::to_string(row.other);
    case ImportReason::BadAddress:
      return "reject: " + std::string(AddressFaultText(row.fault));
    case ImportReason::NameForName:
      return "reject: a host name is itself the name; leave the name column empty";
    case ImportReason::BadInterval:
      return "reject: the interval is not a number of seconds above 0";
    case ImportReason::BadEnabled:
      return "reject: enabled is not yes or no";
    case ImportReason::UnsafeText:
      return "reject: control characters, '<' and '>' are not allowed in host texts";
    case ImportReason::UnclosedQuote:
      return "reject: a quote is not closed";
    case ImportReason::UnknownParent:
      return "reject: the host it is reached through is neither on the list nor in the file";
    case ImportReason::ListFull:
      return "reject: the list holds at most 1024 hosts";
  }
  return {};
}

std::string ExportHostsCsv(const HostList& list) {
  std::string csv(kByteOrderMark);
  csv += "address,name,description,interval,enabled,parent\r\n";
  for (std::size_t r = 0; r < list.Count(); ++r) {
    const HostEntry& host = list.Host(r);
    const bool byName = !host.PingByIP;
    csv += CsvField(byName ? host.HostName.Get() : host.HostIP.Get()) + ',' +
           CsvField(byName ? std::string() : host.HostName.Get()) + ',' +
           CsvField(host.HostDesc.Get()) + ',' + std::to_string(host.PingInterval.load()) + ',' +
           (host.Enabled ? "yes" : "no") + ',' + CsvField(host.Parent.Get()) + "\r\n";
  }
  return csv;
}

}  // namespace sentrel
