#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// Records the program's arguments (argument 0 = the program path). Call once
// from main before any thread asks for a switch.
void SetCommandLine(int argc, const char* const* argv);

// True when an argument, ASCII letters lower-cased, equals "/" + name or
// "-" + name. `name` itself is taken as given, so it must be lower case to
// match. Argument 0 is searched too.
bool HasCommandLineSwitch(std::string_view name);
bool HasCommandLineSwitch(const std::vector<std::string>& arguments, std::string_view name);

}  // namespace sentrel
