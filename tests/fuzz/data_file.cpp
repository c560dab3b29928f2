// Fuzz target: the host list file. Whatever bytes the file holds, LoadHosts
// takes what it can; SaveHosts writes it back (keeping the old file as the
// backup) and loading that again gives the same hosts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/data_file.h"
#include "core/host_list.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_desktop.h"
#include "fuzz_support.h"

namespace {

using namespace sentrel;
using fuzz::ReadWhole;

// The format has no escaping: a text holding "<" and a later ">" can read as
// a tag of its own or of another field (the command line refuses such texts
// for that reason). The round trip is promised for every other host.
bool MayHoldTag(const std::string& text) {
  const std::size_t open = text.find('<');
  return open != std::string::npos && text.find('>', open) != std::string::npos;
}

bool MayHoldTag(const AlarmSet& set) {
  for (const SyncString* text : {&set.WAVFile, &set.LanName, &set.EmailAddress,
                                 &set.ProgramName, &set.Params, &set.Subject, &set.MesBody}) {
    if (MayHoldTag(text->Get())) return true;
  }
  return false;
}

bool MayHoldTag(const HostEntry& host) {
  return MayHoldTag(host.HostIP.Get()) || MayHoldTag(host.HostName.Get()) ||
         MayHoldTag(host.HostDesc.Get()) || MayHoldTag(host.OnRenewal) ||
         MayHoldTag(host.OnLoss);
}

// A light threshold of 0 is not written, so it reads back as its default;
// an alarm repeat count below 1 is not written either and reads back as 1.
void AsReadBack(HostEntry& host) {
  for (std::size_t i = 0; i < host.LightTimes.size(); ++i) {
    if (host.LightTimes[i] == 0) host.LightTimes[i] = kDefaultLightTimes[i];
  }
  for (AlarmSet* set : {&host.OnRenewal, &host.OnLoss}) {
    if (set->RepeatCount < 1) set->RepeatCount = 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string& folder = fuzz::ScratchFolder();
  const std::string file = HostFilePath(folder);
  const std::string backup = HostBackupPath(folder);
  fuzz::WriteWhole(file, bytes);
  std::remove(backup.c_str());

  testing::FakeClock clock(EncodeDateTime({2026, 12, 7, 10, 0, 0, 0}));
  testing::FakeDesktop desktop;
  HostList first(clock);
  const std::size_t loaded = LoadHosts(first, folder).loaded;
  FUZZ_CHECK(loaded == first.Count());
  FUZZ_CHECK(!first.Modified() && !first.Loading());
  FUZZ_CHECK(first.DefaultIndex() >= 0 && first.DefaultIndex() <= static_cast<int>(loaded));

  first.SetModified(true);
  FUZZ_CHECK(SaveHosts(first, folder, desktop) == SaveResult::Saved);
  FUZZ_CHECK(desktop.Calls().empty());
  const std::string written = ReadWhole(file);
  FUZZ_CHECK(written == FormatHostFile(first));
  FUZZ_CHECK(ReadWhole(backup) == bytes);

  HostList second(clock);
  FUZZ_CHECK(LoadHosts(second, folder).loaded == loaded);
  bool clean = true;
  for (std::size_t row = 0; row < loaded; ++row) {
    HostEntry& host = first.Host(row);
    if (MayHoldTag(host)) {
      clean = false;
      continue;
    }
    AsReadBack(host);
    FUZZ_CHECK(FormatHostBlock(second.Host(row)) == FormatHostBlock(host));
  }
  if (clean) FUZZ_CHECK(second.DefaultIndex() == first.DefaultIndex());
  return 0;
}
