#include "probes/icmp_mode.h"

namespace sentrel {

IcmpContext DetectIcmpMode(const IcmpLibraryLoader& loadLibrary,
                           const RawIcmpSocketOpener& openRawSocket) {
  IcmpContext context;
  context.openRawSocket = openRawSocket;
  if (loadLibrary && (context.library = loadLibrary())) {
    context.mode = IcmpMode::Library;
    return context;
  }
  std::unique_ptr<RawIcmpSocket> trial = openRawSocket ? openRawSocket() : nullptr;
  if (!trial) {
    context.mode = IcmpMode::None;
    return context;
  }
  if (trial->SetTtl(64)) {
    context.mode = IcmpMode::RawOnly;
    return context;
  }
  context.library = loadLibrary ? loadLibrary() : nullptr;
  context.mode = context.library ? IcmpMode::RawAndLibrary : IcmpMode::RawNoLibrary;
  return context;
}

IcmpContext DetectSystemIcmpMode() {
  return DetectIcmpMode([] { return LoadIcmpLibrary(); }, OpenRawIcmpSocket);
}

}  // namespace sentrel
