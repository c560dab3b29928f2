#pragma once

#include <windows.h>
#include <ras.h>
#include <raserror.h>

#include <memory>

#include "platform/dial_up_lines.h"

// Inside the Windows layer: dial-up lines over Remote Access Service. The
// functions come from "rasapi32.dll", loaded by name at run time; tests give
// their own to see each documented answer handled.
namespace sentrel {

struct RasApi {
  decltype(&RasEnumEntriesW) EnumEntries = nullptr;
  decltype(&RasEnumConnectionsW) EnumConnections = nullptr;
  decltype(&RasGetConnectStatusW) GetConnectStatus = nullptr;
  decltype(&RasDialW) Dial = nullptr;
  decltype(&RasHangUpW) HangUp = nullptr;
  decltype(&RasGetErrorStringW) GetErrorString = nullptr;
  // Pause between the checks that a hung-up connection has gone.
  DWORD hangUpPollMs = 50;
};

// The library's functions; nothing when it or one of them is missing.
std::unique_ptr<RasApi> LoadRasApi();

std::unique_ptr<DialUpLines> MakeRasLines(const RasApi& api);

}  // namespace sentrel
