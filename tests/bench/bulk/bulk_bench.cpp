// Hosts in bulk, measured: the import of 1,024 rows (read, checked, added,
// written as the data file) and the discovery sweep of a /22 in network
// namespaces of its own (1,022 addresses, six answering). Prints wall time
// and the process's peak memory after each; not a test. Run as root.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "common/clock.h"
#include "core/data_file.h"
#include "core/host_import.h"
#include "netns_topology.h"
#include "probes/address_range.h"
#include "probes/sweep.h"

using namespace sentrel;

namespace {

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::string Inventory() {
  std::string csv = "\xEF\xBB\xBF" "address;Name;description;interval;enabled\r\n";
  for (int i = 0; i < 1024; ++i) {
    csv += i % 8 == 0 ? "srv" + std::to_string(i) + ".bench.invalid"
                      : "10.20." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    csv += i % 8 == 0 ? ";" : ";host " + std::to_string(i);
    csv += ";\"rack " + std::to_string(i % 40) + "; shelf, left\";60;yes\r\n";
  }
  return csv;
}

void BenchImport() {
  const std::string csv = Inventory();
  SystemClock clock;
  HostList list(clock);
  const auto start = std::chrono::steady_clock::now();
  ImportPlan plan = ReadImportFile(csv);
  CheckImportAgainst(plan, list);
  const double checked = MillisecondsSince(start);
  // The names do not resolve: every one costs a real resolver miss.
  const auto lookups = std::chrono::steady_clock::now();
  LookUpImportNames(plan, NameResolvesNow);
  const double lookedUp = MillisecondsSince(lookups);
  const auto adding = std::chrono::steady_clock::now();
  ApplyImport(plan, list);
  const std::string file = FormatHostFile(list);
  std::printf("import of 1024 rows: read and checked in %.1f ms, 128 names looked up in %.1f ms, "
              "%zu added and the data file (%zu bytes) formatted in %.1f ms; peak memory %ld KiB\n",
              checked, lookedUp, list.Count(), file.size(), MillisecondsSince(adding), PeakKilobytes());
}

void BenchDiscovery() {
  if (const std::string why = testing::NetnsTopology::Unavailable(); !why.empty()) {
    std::printf("discovery: %s\n", why.c_str());
    return;
  }
  testing::NetnsTopology topology;
  if (!topology.Up()) {
    std::printf("discovery: scripts/netns-topology.sh up failed\n");
    return;
  }
  testing::NetnsGuard guard(topology.Name("cli"));
  std::string error;
  const std::vector<IpAddress> targets = ParseAddressRange("198.18.0.0/22", error);
  // Without and with reverse lookups: a resolver that cannot be reached from
  // the namespace makes each lookup wait for its time-out.
  for (const bool names : {false, true}) {
    SweepSettings settings;
    if (!names) settings.nameOf = [](const IpAddress&) { return std::string(); };
    Sweep sweep(LoadIcmpLibrary(), settings);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<SweepAnswer> found = sweep.Run(targets);
    std::printf("discovery of a /22 (%zu addresses, in-flight 200, 500 per second, 1 s time-out, "
                "%s): %zu answered in %.1f ms; peak memory %ld KiB %s\n",
                targets.size(), names ? "reverse names" : "no reverse names", found.size(),
                MillisecondsSince(start), PeakKilobytes(), sweep.Error().c_str());
  }
}

}  // namespace

int main() {
  BenchImport();
  BenchDiscovery();
  return 0;
}
