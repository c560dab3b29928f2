#include "app/host_commands.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "common/clock.h"
#include "core/data_file.h"
#include "core/host_import.h"
#include "core/host_list.h"
#include "core/host_parents.h"
#include "core/host_states.h"
#include "core/monitor.h"
#include "platform/atomic_file.h"
#include "platform/instance_lock.h"
#include "platform/terminal.h"
#include "probes/address.h"
#include "probes/host_address.h"

namespace sentrel {

namespace {

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

std::string SlotTexts(uint64_t times) {
  std::string text;
  for (int slot = 0; slot < 48; ++slot) {
    if ((times >> slot & 1u) == 0) continue;
    char hhmm[8];
    std::snprintf(hhmm, sizeof hhmm, "%02d:%02d", slot / 2, slot % 2 * 30);
    text += (text.empty() ? " at " : ",") + std::string(hhmm);
  }
  return text;
}

// The data file has no escaping: a line break or a "<" in a value could end
// its element or its block early and lose the hosts after it.
bool SafeFieldText(const std::string& text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 32 || c == '<' || c == '>';
  });
}

int Refuse(const HostCommandContext& context, const std::string& message, int code) {
  return RefuseCommand(context.err, message, code);
}

void ApplyDegradation(const CliCommand& command, HostEntry& host) {
  if (command.degradedLatency) host.DegradedLatency = *command.degradedLatency;
  if (command.degradedLoss) host.DegradedLoss = *command.degradedLoss;
  if (command.degradedChecks) host.DegradedChecks = *command.degradedChecks;
  if (command.degradedTargets) host.DegradedTargets.Set(*command.degradedTargets);
}

bool ParsePositiveRow(const std::string& text, int32_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value > 0;
}

void AddTo(HostList& list, const CliCommand& command, const HostAddressCheck& checked) {
  auto host = list.CreateHostFromDefault();
  if (checked.kind == HostAddressKind::Address) {
    host->HostIP.Set(checked.text);
    host->HostName.Set(command.name);
  } else {
    // A name is looked up before every check, so a changed address is followed.
    host->PingByIP = false;
    host->HostName.Set(command.address);
  }
  host->HostDesc.Set(command.desc);
  if (command.hasInterval) host->PingInterval = command.interval;
  ApplyDegradation(command, *host);
  host->Enabled = true;
  list.AppendHost(std::move(host));
}

// The host in `row` is reached through the host that `parent` names (its
// row, address or name), or through none ("-"). 0, or the exit code of
// the refusal (nothing is saved then).
int SetParentOf(HostList& list, std::size_t row, const std::string& parent,
                const HostCommandContext& context) {
  HostEntry& host = list.Host(row);
  if (parent == "-") {
    host.Parent.Set({});
    list.SetModified(true);
    return 0;
  }
  const auto hosts = list.Snapshot();
  const HostEntry* named = nullptr;
  int32_t number = 0;
  if (ParsePositiveRow(parent, number)) {
    if (static_cast<std::size_t>(number) > list.Count()) {
      return Refuse(context,
                    "no row " + parent + " (the list has " + std::to_string(list.Count()) + ")", 2);
    }
    named = &list.Host(static_cast<std::size_t>(number) - 1);
  } else {
    named = FindHost(*hosts, parent);
  }
  if (!named) return Refuse(context, "no host \"" + parent + "\" on the list", 2);
  const std::string key = ParentKey(*named);
  if (const std::string loop = ParentLoopError(*hosts, host, key); !loop.empty()) {
    return Refuse(context, "refused: " + loop, 2);
  }
  host.Parent.Set(key);
  list.SetModified(true);
  return 0;
}

}  // namespace

std::string ScheduleText(const HostEntry& host) {
  const uint64_t times = host.Times & kSlotMask;
  switch (host.CheckEvery.load()) {
    case kCheckEveryMonth:
      return "monthly on day " + std::to_string(host.DayOfMonth.load()) + SlotTexts(times);
    case kCheckEveryWeek: {
      std::string days;
      for (int d = 0; d < 7; ++d) {
        if (host.DaysOfWeek >> d & 1) days += (days.empty() ? "" : ",") + std::string(kDayNames[d]);
      }
      return "weekly on " + (days.empty() ? std::string("no day") : days) + SlotTexts(times);
    }
    case kCheckEveryDay:
      return "daily" + SlotTexts(times);
    default:
      return "always, every " + std::to_string(host.PingInterval.load()) + " s";
  }
}

// `text` padded with blanks to `width` characters, not bytes.
std::string Column(const std::string& text, std::size_t width) {
  const std::size_t characters = static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
  return characters >= width ? text : text + std::string(width - characters, ' ');
}

namespace {

// The states that the running Sentrel publishes; none while nobody runs.
HostStates RunningStates(const HostCommandContext& context) {
  InstanceLock lock(context.lockPath);
  if (lock.TryAcquire()) return {};
  std::ifstream in(StateFilePath(context.dataFolder), std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : 0;
  // A line per host: anything far larger is no state file.
  if (size <= 0 || size > (1 << 20)) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  in.seekg(0);
  if (!in.read(text.data(), static_cast<std::streamsize>(text.size()))) return {};
  return ParseHostStates(text);
}

}  // namespace

int ListHosts(const HostCommandContext& context) {
  SystemClock clock;
  HostList list(clock);
  if (const HostFileLoad load = LoadHosts(list, context.dataFolder); !load.error.empty()) {
    return Refuse(context, load.error, 1);
  }
  const HostStates states = RunningStates(context);
  // The address column is as wide as its longest address (an IPv6 address
  // has up to 45 characters), so that the columns after it stay aligned.
  std::size_t addressWidth = 15;
  for (std::size_t row = 0; row < list.Count(); ++row) {
    addressWidth = std::max(addressWidth, list.Host(row).HostIP.Get().size());
  }
  for (std::size_t row = 0; row < list.Count(); ++row) {
    const HostEntry& host = list.Host(row);
    char head[32];
    std::snprintf(head, sizeof head, "%4zu [%c] ", row + 1, host.Enabled ? 'x' : ' ');
    std::string line = head + Column(host.HostIP.Get(), addressWidth) + "  " +
                       Column(host.HostName.Get(), 24) + "  " + Column(host.HostDesc.Get(), 24) +
                       "  " + ScheduleText(host);
    if (!host.Parent.Empty()) line += ", through " + host.Parent.Get();
    if (const auto state = states.find({host.HostIP.Get(), host.HostName.Get()});
        state != states.end()) {
      line += "  " + state->second;
    }
    line += "\n";
    WriteTerminalText(context.out, TextForCodePage(line, context.terminalCodePage));
  }
  if (list.Empty()) WriteTerminalText(context.err, "No hosts in " + context.dataFolder + "\n");
  return 0;
}

int ChangeHosts(const CliCommand& command, const HostCommandContext& context) {
  using Kind = CliCommand::Kind;
  HostAddressCheck checked;
  if (command.degradedTargets && !SafeFieldText(*command.degradedTargets)) {
    return Refuse(context, "control characters, '<' and '>' are not allowed in host texts", 2);
  }
  if (command.kind == Kind::Add) {
    for (const std::string* text : {&command.address, &command.name, &command.desc}) {
      if (!SafeFieldText(*text)) {
        return Refuse(context, "control characters, '<' and '>' are not allowed in host texts", 2);
      }
    }
    checked = CheckHostAddress(command.address);
    if (checked.kind == HostAddressKind::Refused) {
      return Refuse(context,
                    "not a host address or name: \"" + command.address + "\": " +
                        std::string(AddressFaultText(checked.fault)),
                        2);
    }
    if (checked.kind == HostAddressKind::Name && !command.name.empty()) {
      return Refuse(context, "--name goes with an IP address; a host name is itself the name", 2);
    }
  }

  InstanceLock lock(context.lockPath);
  if (!lock.TryAcquire()) {
    return Refuse(context,
                  "another Sentrel of this user is running; stop it first, or its next save "
                  "would overwrite this change",
                  1);
  }

  SystemClock clock;
  HostList list(clock);
  if (const HostFileLoad load = LoadHosts(list, context.dataFolder); !load.error.empty()) {
    return Refuse(context, load.error + "; nothing changed", 1);
  }
  if (command.kind == Kind::Add) {
    if (list.Full()) return Refuse(context, "Too many hosts!!!", 1);
    AddTo(list, command, checked);
    if (command.hasParent) {
      if (const int code = SetParentOf(list, list.Count() - 1, command.parent, context); code != 0)
        return code;
    }
  } else if (command.kind == Kind::SetParent) {
    int code = 0;
    const auto row = ListRowOf(command, list, context.err, code);
    if (!row) return code;
    if ((code = SetParentOf(list, *row, command.parent, context)) != 0) return code;
  } else {
    int code = 0;
    const auto row = ListRowOf(command, list, context.err, code);
    if (!row) return code;
    if (command.kind == Kind::Remove) {
      list.DeleteHost(*row);
    } else if (command.kind == Kind::SetDegradation) {
      ApplyDegradation(command, list.Host(*row));
      list.SetModified(true);
    } else {
      list.SetRowChecked(*row, command.kind == Kind::Enable);
    }
  }
  if (SaveHosts(list, context.dataFolder, context.desktop) != SaveResult::Saved) return 1;
  // Added all the same: the name is looked up again before every check.
  if (checked.kind == HostAddressKind::Name && !context.resolves(checked.text)) {
    const std::string warning = "sentrel: warning: " + checked.text + " " +
                                std::string(kDoesNotResolveNow) + "\n";
    WriteTerminalText(context.err, TextForCodePage(warning, context.terminalCodePage));
  }
  return 0;
}

namespace {

// A host list of 1,024 rows is far below this; anything larger is not one.
constexpr std::streamoff kMaxImportBytes = 16 << 20;

bool ReadImportBytes(const std::string& path, std::string& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size > kMaxImportBytes) {
    error = path + " is too large for a host list";
    return false;
  }
  in.seekg(0);
  bytes.assign(static_cast<std::size_t>(std::max<std::streamoff>(size, 0)), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

void Say(const HostCommandContext& context, std::FILE* to, const std::string& text) {
  WriteTerminalText(to, TextForCodePage(text, context.terminalCodePage));
}

}  // namespace

int ImportHosts(const CliCommand& command, const HostCommandContext& context) {
  std::string bytes, error;
  if (!ReadImportBytes(command.file, bytes, error)) return Refuse(context, error, 1);
  ImportPlan plan = ReadImportFile(bytes);
  if (!plan.fileError.empty()) return Refuse(context, command.file + ": " + plan.fileError, 1);

  InstanceLock lock(context.lockPath);
  if (!lock.TryAcquire()) {
    return Refuse(context,
                  "another Sentrel of this user is running; stop it first, or import in its "
                  "window (File > Import hosts...)",
                  1);
  }
  SystemClock clock;
  HostList list(clock);
  if (const HostFileLoad load = LoadHosts(list, context.dataFolder); !load.error.empty()) {
    return Refuse(context, load.error + "; nothing imported", 1);
  }
  CheckImportAgainst(plan, list);
  LookUpImportNames(plan, context.resolves);

  for (const std::string& column : plan.ignoredColumns)
    Say(context, context.err, "sentrel: ignoring column \"" + column + "\"\n");
  std::size_t full = 0;
  for (const ImportRow& row : plan.rows) {
    if (row.reason == ImportReason::ListFull) ++full;
    if (row.fate == ImportFate::Reject || row.reason == ImportReason::DoesNotResolve)
      Say(context, context.out,
          "line " + std::to_string(row.line) + ": " + row.address + ": " + ImportRowText(row) + "\n");
  }
  if (full > 0) {
    Say(context, context.err,
        "sentrel: the list holds at most " + std::to_string(kMaxHosts) + " hosts; " +
            std::to_string(full) + " rows of the file were not added\n");
  }
  const ImportCounts counts = plan.Counts();
  if (counts.added > 0) {
    ApplyImport(plan, list);
    if (SaveHosts(list, context.dataFolder, context.desktop) != SaveResult::Saved) return 1;
  }
  Say(context, context.out,
      "added " + std::to_string(counts.added) + ", skipped " + std::to_string(counts.skipped) +
          ", rejected " + std::to_string(counts.rejected) + "\n");
  return counts.rejected > 0 ? 1 : 0;
}

int ExportHosts(const CliCommand& command, const HostCommandContext& context) {
  SystemClock clock;
  HostList list(clock);
  if (const HostFileLoad load = LoadHosts(list, context.dataFolder); !load.error.empty()) {
    return Refuse(context, load.error, 1);
  }
  std::string error;
  if (!WriteFileAtomically(command.file, ExportHostsCsv(list), "", &error))
    return Refuse(context, "cannot write " + command.file + ": " + error, 1);
  Say(context, context.out,
      "exported " + std::to_string(list.Count()) + " hosts to " + command.file + "\n");
  return 0;
}

int TraceHost(const CliCommand& command, const HostCommandContext& context,
              const IcmpContext& icmp) {
  SystemClock clock;
  HostList list(clock);
  if (const HostFileLoad load = LoadHosts(list, context.dataFolder); !load.error.empty()) {
    return Refuse(context, load.error, 1);
  }
  const auto settings = list.CreateHostFromDefault();
  TraceNowText(TraceSettingsOf(*settings), command.address, icmp, [&](const std::string& line) {
    WriteTerminalText(context.out, TextForCodePage(line, context.terminalCodePage));
  });
  return 0;
}

}  // namespace sentrel
