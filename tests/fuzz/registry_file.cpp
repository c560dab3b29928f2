// Fuzz target: the registry file, which a person may edit and which Windows'
// export writes. Whatever it holds loads (damage is skipped and reported),
// saves with the damaged original kept aside, and the saved file reads back
// without damage into the same contents.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/registry.h"

using sentrel::Registry;
using sentrel::fuzz::ReadWhole;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  static const std::string file = sentrel::fuzz::ScratchFolder() + "/registry.reg";
  static const std::string aside = file + ".damaged";
  sentrel::fuzz::WriteWhole(file, bytes);
  std::remove(aside.c_str());

  Registry first(file);
  std::string warning;
  FUZZ_CHECK(first.Load(&warning));
  std::string error;
  FUZZ_CHECK(first.Save(&error));
  const std::string saved = ReadWhole(file);
  // A damaged file is kept as it was; a sound one is not copied.
  if (warning.empty()) {
    FUZZ_CHECK(!sentrel::fuzz::Exists(aside));
  } else {
    FUZZ_CHECK(ReadWhole(aside) == bytes);
  }

  Registry second(file);
  std::string again;
  FUZZ_CHECK(second.Load(&again));
  FUZZ_CHECK(again.empty());
  // What the first reading kept is what the second one finds: every value
  // of every key, compared through the file that both write.
  FUZZ_CHECK(second.Save(&error));
  FUZZ_CHECK(ReadWhole(file) == saved);
  // A sound file puts nothing aside, so the copy of the damaged one stays.
  FUZZ_CHECK(warning.empty() ? !sentrel::fuzz::Exists(aside) : ReadWhole(aside) == bytes);
  return 0;
}
