// A benchmark, not a test: 1,024 hosts go down at once, each with a loss
// alarm to a web hook target, against a local HTTPS receiver (the notify
// tests' https_receiver.py). Prints the time from the moment they went down
// until the last notification was delivered, and the longest time the
// window thread made a task wait meanwhile.
//
// The echo requests are scripted (nothing leaves the machine); the alarms,
// the outbox with its files, the HTTPS client and the receiver are real.
//
// Usage: sentrel_notify_bench [--hosts N] [--targets N] RECEIVER_SCRIPT
// Defaults: 1024 hosts, one target for all of them.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "common/clock.h"
#include "core/event_log.h"
#include "core/monitor.h"
#include "core/notify_alarm_channels.h"
#include "core/ui_thread.h"
#include "fakes/fake_desktop.h"
#include "fakes/fake_echo_library.h"
#include "notify/dial_up.h"
#include "notify/notify_target.h"
#include "platform/registry.h"

extern char** environ;

using namespace sentrel;
using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

namespace {

struct Receiver {
  pid_t pid = -1;
  int input = -1;
  FILE* output = nullptr;
  int port = 0;
  std::string caFile;

  bool Start(const std::string& script, const std::string& folder) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string python = "/usr/bin/python3";
    std::string scriptArg = script, folderArg = folder;
    char* argv[] = {python.data(), scriptArg.data(), folderArg.data(), nullptr};
    const bool spawned = posix_spawn(&pid, python.c_str(), &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input = in[1];
    output = fdopen(out[0], "r");
    if (!spawned || !output) return false;
    char line[4096];
    for (int i = 0; i < 2 && std::fgets(line, sizeof line, output); ++i) {
      if (std::strncmp(line, "PORT ", 5) == 0) port = std::atoi(line + 5);
      if (std::strncmp(line, "CA ", 3) == 0) caFile = std::string(line + 3, std::strcspn(line + 3, "\n"));
    }
    return port > 0 && !caFile.empty();
  }
  ~Receiver() {
    if (input >= 0) close(input);
    if (pid > 0) waitpid(pid, nullptr, 0);
    if (output) std::fclose(output);
  }
};

}  // namespace

int main(int argc, char** argv) {
  int hosts = 1024;
  int targets = 1;
  std::string script;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--hosts" && i + 1 < argc) hosts = std::clamp(std::atoi(argv[++i]), 1, 1024);
    else if (arg == "--targets" && i + 1 < argc) targets = std::clamp(std::atoi(argv[++i]), 1, 64);
    else script = arg;
  }
  if (script.empty()) {
    std::fprintf(stderr, "usage: sentrel_notify_bench [--hosts N] [--targets N] RECEIVER_SCRIPT\n");
    return 2;
  }
  const auto folder = std::filesystem::temp_directory_path() /
                      ("sentrel-notify-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  Receiver receiver;
  if (!receiver.Start(script, folder.string())) {
    std::fprintf(stderr, "the receiver did not start\n");
    return 1;
  }

  const std::string registryPath = (folder / "registry.reg").string();
  Registry registry(registryPath);
  for (int t = 0; t < targets; ++t) {
    NotifyTarget target{"hook" + std::to_string(t), "webhook",
                        "https://127.0.0.1:" + std::to_string(receiver.port) + "/hook", {}};
    target.SetValue("CAFile", receiver.caFile);
    StoreTarget(registry, target);
  }
  registry.Save();

  SystemClock clock;
  TaskQueueUiThread ui;
  testing::FakeDesktop desktop;
  ROptions options;
  options.PathToData = folder.string();
  options.LogDetail = 0;
  EventLog log;
  auto library = std::make_shared<testing::ScriptedEchoLibrary>();
  std::atomic<bool> down{false};
  library->SetRule([&down](uint32_t address, const IcmpEchoOptions&) {
    if (down) return testing::ScriptedEchoLibrary::Answer{std::nullopt, 20ms};
    return testing::ScriptedEchoLibrary::Answer{IcmpEchoReply{address, kIpSuccess, 1}, {}};
  });
  IcmpContext icmp;
  icmp.mode = IcmpMode::Library;
  icmp.library = library;
  icmp.desktop = &desktop;
  DialUp dialUp{std::unique_ptr<DialUpLines>()};
  MailContext mail{desktop, clock, dialUp, false, {}};
  NotifyAlarmChannels channels(options, mail, desktop, ui, log);
  channels.StartOutbox((folder / "outbox").string(), registryPath);
  MonitorServices services{clock, ui, desktop, options, log, icmp, channels, DateTextFormats{}};
  Monitor monitor(services);
  for (int i = 0; i < hosts; ++i) {
    auto host = monitor.Hosts().CreateHostFromDefault();
    host->HostIP.Set("10.9." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    host->HostName.Set("h" + std::to_string(i));
    host->PingInterval = 1;
    host->TimeOut = 100;
    host->Enabled = true;
    host->OnLoss.Alarm = true;
    host->OnLoss.Targets.Set("hook" + std::to_string(i % targets));
    monitor.Hosts().AppendHost(std::move(host));
  }

  // The window thread's lateness: a task posted every 5 ms notes how long
  // it waited to run.
  std::atomic<bool> ticking{true};
  std::atomic<long long> longestWaitUs{0};
  std::jthread ticker([&] {
    while (ticking) {
      const auto posted = Steady::now();
      ui.Post([posted, &longestWaitUs] {
        const long long waited =
            std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - posted).count();
        long long seen = longestWaitUs.load();
        while (waited > seen && !longestWaitUs.compare_exchange_weak(seen, waited)) {
        }
      });
      std::this_thread::sleep_for(5ms);
    }
  });

  monitor.SetPinging(true);
  ui.RunFor(3s);  // every host answers first
  longestWaitUs = 0;
  down = true;
  const auto wentDown = Steady::now();
  const auto delivered = [&] {
    uint64_t count = 0;
    for (const auto& [key, n] : channels.Box()->CountsSnapshot()) {
      if (key.second == "delivered") count += n;
    }
    return count;
  };
  const auto limit = wentDown + 180s;
  while (delivered() < static_cast<uint64_t>(hosts) && Steady::now() < limit) ui.RunFor(10ms);
  const double seconds = std::chrono::duration<double>(Steady::now() - wentDown).count();
  const uint64_t done = delivered();
  const long long waited = longestWaitUs.load();
  ticking = false;
  ticker.join();
  channels.Leave();
  monitor.Shutdown();
  ui.RunPending();

  std::printf("hosts %d, targets %d\n", hosts, targets);
  std::printf("notifications delivered: %llu of %d\n", static_cast<unsigned long long>(done), hosts);
  std::printf("time from going down to the last delivery: %.2f s\n", seconds);
  std::printf("longest window-thread wait meanwhile: %.1f ms\n", waited / 1000.0);
  std::filesystem::remove_all(folder);
  return done == static_cast<uint64_t>(hosts) ? 0 : 1;
}
