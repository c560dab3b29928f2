#include "app/discover_command.h"

#include <atomic>
#include <optional>

#include "common/clock.h"
#include "core/data_file.h"
#include "core/host_import.h"
#include "core/host_list.h"
#include "platform/instance_lock.h"
#include "platform/stop_requests.h"
#include "platform/terminal.h"
#include "probes/address_range.h"

namespace sentrel {

namespace {

void Say(const HostCommandContext& context, const std::string& text) {
  WriteTerminalText(context.out, TextForCodePage(text, context.terminalCodePage));
}

std::string AnswerLine(const SweepAnswer& answer) {
  std::string line = AddressText(answer.address);
  line.resize(std::max<std::size_t>(line.size() + 2, 17), ' ');
  const std::string time = std::to_string(answer.rtt) + " ms";
  line += std::string(time.size() < 8 ? 8 - time.size() : 0, ' ') + time;
  if (!answer.name.empty()) line += "  " + answer.name;
  return line + "\n";
}

}  // namespace

int DiscoverHosts(const CliCommand& command, const HostCommandContext& context,
                  std::shared_ptr<IcmpLibrary> library, SweepSettings settings) {
  std::string error;
  const std::vector<IpAddress> targets = ParseAddressRange(command.range, error);
  if (targets.empty()) return RefuseCommand(context.err, "--discover " + command.range + ": " + error, 2);

  // Taken before the sweep: a sweep whose finds could not be added is wasted.
  std::optional<InstanceLock> lock;
  if (command.addFound) {
    lock.emplace(context.lockPath);
    if (!lock->TryAcquire()) {
      return RefuseCommand(context.err,
                           "another Sentrel of this user is running; stop it first, or use its "
                           "window (Hosts > Discover...)",
                           1);
    }
  }

  Sweep sweep(std::move(library), std::move(settings));
  StopRequests stopRequests([&sweep] { sweep.Stop(); });
  const bool showProgress = IsTerminal(context.err);
  std::atomic<std::size_t> lastShown{0};
  const auto progress = [&](std::size_t done, std::size_t total) {
    // A line per percent at most: the terminal is not flooded.
    if (!showProgress || (done * 100 / total == lastShown.exchange(done * 100 / total) && done != total))
      return;
    std::fprintf(context.err, "\rswept %zu of %zu addresses ", done, total);
    std::fflush(context.err);
  };
  const std::vector<SweepAnswer> found = sweep.Run(targets, progress);
  if (showProgress) std::fprintf(context.err, "\r%40s\r", "");
  if (!sweep.Error().empty()) return RefuseCommand(context.err, sweep.Error(), 1);

  for (const SweepAnswer& answer : found) Say(context, AnswerLine(answer));
  if (sweep.Stopped()) {
    return RefuseCommand(context.err,
                         "stopped; " + std::to_string(found.size()) + " addresses had answered" +
                             (command.addFound ? ", none was added" : ""),
                         1);
  }
  Say(context, std::to_string(found.size()) + " of " + std::to_string(targets.size()) +
                   " addresses answered\n");
  if (!command.addFound) return 0;

  SystemClock clock;
  HostList list(clock);
  if (const HostFileLoad load = LoadHosts(list, context.dataFolder); !load.error.empty()) {
    return RefuseCommand(context.err, load.error + "; nothing added", 1);
  }
  std::size_t listed = 0;
  for (const SweepAnswer& answer : found) listed += ListedRowOf(list, answer.address) ? 1 : 0;
  const std::vector<std::size_t> added = AddFoundHosts(list, found);
  if (!added.empty() && SaveHosts(list, context.dataFolder, context.desktop) != SaveResult::Saved)
    return 1;
  Say(context, "added " + std::to_string(added.size()) + ", already listed " + std::to_string(listed) + "\n");
  if (const std::size_t left = found.size() - listed - added.size(); left > 0) {
    return RefuseCommand(context.err,
                         "the list holds at most " + std::to_string(kMaxHosts) + " hosts; " +
                             std::to_string(left) + " answering addresses were not added",
                         1);
  }
  return 0;
}

}  // namespace sentrel
