#include "app/headless_runner.h"

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "app/headless_desktop.h"
#include "app/program_history.h"
#include "common/clock.h"
#include "common/command_line.h"
#include "core/date_text.h"
#include "core/event_log.h"
#include "core/notify_alarm_channels.h"
#include "core/monitor.h"
#include "core/status_report.h"
#include "core/ui_thread.h"
#include "export/monitor_metrics.h"
#include "notify/dial_up.h"
#include "notify/notify_target.h"
#include "notify/outbox.h"
#include "notify/send_mail.h"
#include "platform/icmp_library.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/raw_icmp_socket.h"
#include "platform/registry.h"
#include "platform/socket_notifier_poll.h"
#include "platform/sockets.h"
#include "platform/stop_requests.h"
#include "platform/system_log.h"
#include "platform/terminal.h"
#include "probes/icmp_mode.h"
#include "settings/language_files.h"
#include "settings/options.h"

namespace sentrel {

namespace {

// How long a service waits for the ICMP library at its start.
constexpr std::chrono::seconds kServiceIcmpWait{60};

bool ToSystemLog(MessageIcon icon, const std::string& line) {
  const SystemLogLevel level = icon == MessageIcon::Error     ? SystemLogLevel::Error
                               : icon == MessageIcon::Warning ? SystemLogLevel::Warning
                                                              : SystemLogLevel::Information;
  return WriteSystemLog(level, line);
}

bool DiscardPlain(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return !ec;
}

// At the default log level only changes of state are logged, so without
// this a newcomer would see one line and then silence.
void PrintBanner(const Monitor& monitor, const std::string& logPath) {
  const HostList& hosts = monitor.Hosts();
  std::size_t enabled = 0;
  for (std::size_t row = 0; row < hosts.Count(); ++row) enabled += hosts.Host(row).Enabled ? 1 : 0;
  const std::string checks = monitor.Pinging() ? "are running" : "are stopped (start with --ping)";
  const std::string where = logPath.empty() ? std::string() : " and to " + logPath;
  WriteTerminalText(stdout, "Sentrel without a window: " + std::to_string(hosts.Count()) +
                                " host(s), " + std::to_string(enabled) + " enabled. Checks " +
                                checks + ".\nEvents go here" + where +
                                ". Ctrl+C or SIGTERM stops it.\n");
}

}  // namespace

int RunHeadless(const HeadlessRunOptions& runOptions) {
  std::atomic<bool> stop{false};
  TaskQueueUiThread ui;
  const auto requestStop = [&] {
    stop = true;
    ui.Wake();
  };
  StopRequests stopRequests(requestStop);

  InstanceLock lock;
  if (!lock.TryAcquire()) {
    std::fprintf(stderr, "sentrel: already running for this user\n");
    return 0;
  }
  StartSockets();
  std::setlocale(LC_TIME, "");

  Registry registry;
  std::string warning;
  if (!registry.Load(&warning) || !warning.empty()) {
    std::fprintf(stderr, "sentrel: %s: %s\n", registry.Path().c_str(), warning.c_str());
  }
  ROptions options;
  LoadOptions(options, registry);
  // The language's code page reads legacy text in the data file.
  LoadLanguage(options.Language, LanguageFolders());
  const bool pinging = runOptions.ping || LoadPinging(registry);

  const bool transferLog = HasCommandLineSwitch("sl");
  SystemClock clock;
  // A service's message boxes would reach nobody on standard error.
  HeadlessDesktop desktop(stderr, runOptions.service ? UnattendedMessages(ToSystemLog) : nullptr);
  StdoutLogPane pane;
  EventLog log;
  log.SetPane(&pane);
  log.Open({options.PathToLog, options.LogSize, transferLog, runOptions.programFolder}, desktop,
           DiscardPlain);

  // A service takes its stop from here on, also while it waits for the
  // ICMP library; pausing waits for the monitor.
  if (runOptions.service) runOptions.service({requestStop, {}});
  PollSocketNotifier notifier;
  IcmpLibraryLoader loadLibrary = [] { return LoadIcmpLibrary(); };
  if (runOptions.service) {
    // Started with the system, a service may come before the library is
    // ready to hand out a handle.
    loadLibrary = PatientIcmpLoader(std::move(loadLibrary), kServiceIcmpWait,
                                    std::chrono::milliseconds(250), [&stop] { return stop.load(); });
  }
  IcmpContext icmp = DetectIcmpMode(loadLibrary, OpenRawIcmpSocket);
  icmp.desktop = &desktop;
  icmp.notifier = &notifier;
  if (icmp.mode == IcmpMode::None && !stop) {
    // Said once where it is read; every check would only repeat it.
    log.Write(DateTimeText(clock.Now(), DateTextFormats{}) +
              " No ICMP available: neither the ICMP library nor a raw socket can be opened; "
              "no host is checked.\r\n");
  }

  DialUp dialUp{OpenDialUpLines()};
  MailContext mail{desktop, clock, dialUp, transferLog, runOptions.programFolder};
  ActivityCounters counters;
  NotifyAlarmChannels channels(options, mail, desktop, ui, log, {}, &counters);

  MonitorServices services{clock, ui, desktop, options, log, icmp, channels, DateTextFormats{}};
  services.counters = &counters;
  // The history of every result; its notices reach the log on this thread.
  const auto history = HookUpHistory(services, options.PathToData, ui, log, clock);
  channels.StartOutbox(JoinPath(options.PathToData, kOutboxFolder), registry.Path(),
                       NotificationRecorder(services.recorder));
  Monitor monitor(services);
  monitor.SetPinging(pinging);
  if (runOptions.service) {
    runOptions.service({requestStop, [&ui, &monitor](bool paused) {
                          ui.Post([&monitor, paused] { monitor.SetPinging(!paused); });
                        }});
  }
  if (const HostFileLoad load = monitor.LoadHosts(); !load.error.empty()) {
    // Monitoring nothing would look like a quiet network; the file stays as it is.
    std::fprintf(stderr, "sentrel: %s\n", load.error.c_str());
    monitor.Shutdown();
    log.Close();
    StopSockets();
    return 1;
  }
  PrintBanner(monitor, log.IsOpen() ? EventLog::LogPath(options.PathToLog) : std::string());
  MetricsServer metrics(MonitorMetricsSource(monitor, counters, channels.Box()),
                        LogMetricsNotice(log, clock, ui));
  metrics.Apply(runOptions.metricsListen.value_or(options.MetricsListen));

  const bool rawMode = icmp.mode != IcmpMode::Library && icmp.mode != IcmpMode::None;
  auto nextTick = std::chrono::steady_clock::now() + UntilNextStatusTick(clock.Now());
  auto nextStates = std::chrono::steady_clock::now();
  while (!stop) {
    if (std::chrono::steady_clock::now() >= nextStates) {
      monitor.PublishStates();
      nextStates = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    }
    if (std::chrono::steady_clock::now() >= nextTick) {
      monitor.CheckStatusReport(clock.Now());
      nextTick = std::chrono::steady_clock::now() + UntilNextStatusTick(clock.Now());
    }
    if (rawMode) {
      // Raw replies arrive through the notifier on this thread; short slices
      // keep both it and the hand-offs served.
      notifier.RunFor(std::chrono::milliseconds(10));
      ui.RunPending();
    } else {
      ui.RunFor(std::chrono::milliseconds(500), [&] { return stop.load(); });
    }
  }

  if (runOptions.service) runOptions.service({});
  metrics.Stop();
  monitor.Shutdown();
  // Alarms that were due still go out, for a moment; then a transfer that
  // hangs is aborted.
  ui.RunFor(kLeaveAlarmGrace, [&] { return !monitor.AlarmsInFlight(); });
  channels.Leave();
  ui.RunPending();
  monitor.SaveHosts();
  SavePinging(monitor.Pinging(), registry);
  KeepStoredTargets(registry);
  std::string error;
  if (!registry.Save(&error)) std::fprintf(stderr, "sentrel: %s\n", error.c_str());
  log.Close();
  StopSockets();
  return 0;
}

}  // namespace sentrel
