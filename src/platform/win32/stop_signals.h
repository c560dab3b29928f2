#pragma once

#include <windows.h>

// Inside the Windows layer: the roads by which the system asks the program
// to end, for the service and for tests.
namespace sentrel {

// Calls the StopRequests object's step; with `waitForSave`, then waits (a
// few seconds at most) until that object ends, that is until the program has
// saved. False when no object listens.
bool AskProgramToStop(bool waitForSave);

// The console handler StopRequests installs.
BOOL WINAPI OnConsoleEvent(DWORD event);

// A service process hears the logoff of every user; it must not end then.
void IgnoreLogoffEvents();

}  // namespace sentrel
