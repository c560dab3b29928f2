#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/host_list.h"
#include "probes/host_address.h"
#include "probes/sweep.h"

namespace sentrel {

// Hosts in bulk: a CSV file with a header row naming any of the columns
// address, name, description, interval, enabled, parent (any order and
// letter case, comma or semicolon), or a plain text file of one address or
// host name per line. Each row is checked as the host dialog checks a host;
// the plan says what will happen to each before anything is added.

// What happens to one row.
enum class ImportFate { Add, Skip, Reject };

// Why; each fate has its own reasons.
enum class ImportReason {
  None,            // Add
  DoesNotResolve,  // Add, with the warning "does not resolve now"
  Listed,          // Skip: the list already holds this address or name
  Repeated,        // Skip: an earlier line of the file holds it
  BadAddress,      // Reject: see `fault`
  NameForName,     // Reject: a name column beside a host name that differs
  BadInterval,     // Reject: not a number of seconds above 0
  BadEnabled,      // Reject: not yes/no, true/false, 1/0, x or empty
  UnsafeText,      // Reject: control characters, '<' or '>' in a text
  UnclosedQuote,   // Reject: a quoted field runs to the end of the file
  UnknownParent,   // Reject: the parent is neither listed nor a host of the file
  ListFull,        // Reject: the list would hold more than 1,024 hosts
};

struct ImportRow {
  int line = 0;             // 1-based line of the file
  std::string address;      // as written
  std::string name;
  std::string description;
  std::optional<int32_t> interval;
  std::optional<bool> enabled;
  std::string parent;  // the host it is reached through, as written
  ImportFate fate = ImportFate::Add;
  ImportReason reason = ImportReason::None;
  AddressFault fault = AddressFault::None;  // for BadAddress
  int other = 0;  // Listed: the list's row (1-based); Repeated: the earlier line
  HostAddressCheck checked;
};

struct ImportCounts {
  std::size_t added = 0, skipped = 0, rejected = 0;
};

struct ImportPlan {
  std::vector<ImportRow> rows;
  // A reason that the whole file cannot be read ("no address column"), in
  // English; no rows then.
  std::string fileError;
  std::vector<std::string> ignoredColumns;  // header names that are no column
  bool csv = false;                         // a header row was found

  ImportCounts Counts() const;
};

// The columns of the CSV that export writes and import reads.
inline constexpr std::string_view kImportColumns[] = {"address", "name",    "description",
                                                      "interval", "enabled", "parent"};

// Reads the file's bytes: a UTF-8 byte order mark is dropped; other than
// UTF-8 text is legacy 8-bit text read through the program's text model.
// Checks every row on its own and against the rows before it, not yet
// against the list nor the resolver.
ImportPlan ReadImportFile(std::string_view bytes);

// Checks the rows against `list`: duplicates of listed hosts are skipped,
// rows beyond the host limit rejected, and so are rows whose parent is
// neither listed nor a host of the file. Window thread (it reads the list).
void CheckImportAgainst(ImportPlan& plan, const HostList& list);

// Looks up every host name still to be added once (`resolves`), on up to
// `lookups` threads at once since a resolver may wait seconds for a name
// that does not resolve; such a row gets the warning. `progress` (names
// done, names in all) is called from those threads. Once `stop` is
// requested no new lookup starts. Any one thread.
using NameResolver = std::function<bool(const std::string&)>;
void LookUpImportNames(ImportPlan& plan, const NameResolver& resolves,
                       const std::function<void(std::size_t, std::size_t)>& progress = {},
                       int lookups = 16, std::stop_token stop = {});

// Adds the rows whose fate is Add, as "Add" adds a host (seeded from the
// default host), in file order; then gives each its parent, in file order,
// except a parent that would close a loop (that host keeps the default
// host's). Saves nothing. Returns the new rows.
std::vector<std::size_t> ApplyImport(const ImportPlan& plan, HostList& list);

// The row (0-based) of a listed host pinged by that address, if any.
std::optional<std::size_t> ListedRowOf(const HostList& list, const IpAddress& address);

// Adds the answering addresses of a sweep that the list does not hold yet,
// as "Add" adds a host (seeded from the default host), enabled, with the
// reverse name as the computer name. Stops at the host limit. Returns the
// new rows.
std::vector<std::size_t> AddFoundHosts(HostList& list, const std::vector<SweepAnswer>& found);

// What happens to a row, in English: "add", "add (does not resolve now)",
// "skip: already listed in row 3", "reject: ...".
std::string ImportRowText(const ImportRow& row);

// The list as the CSV that import reads back: a header row, one row per
// host in row order, comma, CR LF line ends, UTF-8 with a byte order mark
// (so that spreadsheets read it as UTF-8). A host pinged by name is written
// with that name as its address.
std::string ExportHostsCsv(const HostList& list);

}  // namespace sentrel
