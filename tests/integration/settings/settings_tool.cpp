// A separate program for the restart tests: it saves or prints options and a
// raw registry value, so that writer and reader are different processes.
//   settings_tool save FILE    stores a fixed set of non-default options
//   settings_tool print FILE   prints every stored option and the digest
#include <cstdio>
#include <cstring>
#include <string>

#include "common/text.h"
#include "platform/registry.h"
#include "settings/options.h"

using namespace sentrel;

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  Registry registry(argv[2]);
  if (!registry.Load()) return 3;
  if (std::strcmp(argv[1], "save") == 0) {
    ROptions options;
    LoadOptions(options, registry);
    options.Language = "Nederlands";
    options.ServerName = "smtp.example.net";
    options.Port = 587;
    options.MinToTray = true;
    options.Times = uint64_t{0xffffffffffff};
    registry.SetString("SOFTWARE\\Sentrel", "Password", std::string("\x00\x9f\x00z", 4));
    return SaveOptions(options, registry) ? 0 : 4;
  }
  if (std::strcmp(argv[1], "print") == 0) {
    for (const std::string& name : registry.ValueNames(kOptionsKey)) {
      std::printf("%s=%s\n", name.c_str(), registry.GetString(kOptionsKey, name)->c_str());
    }
    const auto digest = registry.GetString("SOFTWARE\\Sentrel", "Password");
    std::printf("Password digest=%s\n", digest ? ToHex(*digest).c_str() : "none");
    return 0;
  }
  return 2;
}
