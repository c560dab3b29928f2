#pragma once

#include <windows.h>

// Inside the Windows layer: the two calls that put a finished file in place.
// Tests swap them to see each failure the system documents handled without
// losing the new content.
namespace sentrel {

struct FileReplaceCalls {
  decltype(&ReplaceFileW) replace = ReplaceFileW;
  decltype(&MoveFileExW) move = MoveFileExW;
};

// The calls every atomic save uses.
FileReplaceCalls& FileReplaceCallsInUse();

}  // namespace sentrel
