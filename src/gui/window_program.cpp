#include "gui/window_program.h"

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSessionManager>
#include <QThread>
#include <QTimer>

#include "common/clock.h"
#include "common/command_line.h"
#include "core/event_log.h"
#include "core/host_entry.h"
#include "core/monitor.h"
#include "core/notify_alarm_channels.h"
#include "core/status_report.h"
#include "export/monitor_metrics.h"
#include "gui/about_box.h"
#include "gui/app_tray.h"
#include "gui/dialogs/host_form.h"
#include "gui/dialogs/options_form.h"
#include "gui/dialogs/password_form.h"
#include "gui/help_window.h"
#include "gui/history_window.h"
#include "gui/library_translations.h"
#include "gui/log_pane_widget.h"
#include "gui/main_window.h"
#include "gui/placement.h"
#include "gui/qt/qt_desktop.h"
#include "gui/qt/qt_socket_notifier.h"
#include "gui/qt/qt_ui_thread.h"
#include "gui/sound_player.h"
#include "gui/taskbar_listing.h"
#include "history/history_store.h"
#include "notify/dial_up.h"
#include "notify/notify_target.h"
#include "notify/send_mail.h"
#include "platform/autostart.h"
#include "platform/display.h"
#include "platform/icmp_library.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/raw_icmp_socket.h"
#include "platform/registry.h"
#include "platform/sockets.h"
#include "platform/stop_requests.h"
#include "settings/language_files.h"
#include "settings/language_table.h"
#include "settings/password.h"
#include "settings/options.h"

namespace sentrel {

namespace {

bool DiscardToTrash(const std::string& path) {
  if (QFile::moveToTrash(QString::fromStdString(path))) return true;
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return !ec;
}

// The window thread's loop has ended: the alarms still on their way get
// their moment, served by hand since no loop runs any more.
void FinishAlarms(const Monitor& monitor) {
  QElapsedTimer waited;
  waited.start();
  while (monitor.AlarmsInFlight() && waited.elapsed() < kLeaveAlarmGrace.count()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

}  // namespace

int RunWindowProgram(const WindowRunOptions& run) {
  InstanceLock lock;
  if (!lock.TryAcquire()) return 0;
  if (!DisplayAvailable()) {
    std::fprintf(stderr,
                 "sentrel: no display to open the window on; \"sentrel --headless\" monitors "
                 "without a window\n");
    return 1;
  }
  int argc = run.argc;
  QApplication app(argc, run.argv);
  app.setApplicationName("Sentrel");
  app.setApplicationVersion(SENTREL_VERSION);
  InitArtwork();
  app.setWindowIcon(ProgramIcon());
  // Hiding the window to the tray must not end the program.
  app.setQuitOnLastWindowClosed(false);

  StartSockets();
  std::setlocale(LC_TIME, "");
  const bool smtpLogSwitch = HasCommandLineSwitch("sl");

  Registry registry;
  std::string registryWarning;
  registry.Load(&registryWarning);
  ROptions options;
  LoadOptions(options, registry);

  LogPaneWidget* pane = nullptr;
  // Notices for the operator: the log pane, once the main window exists.
  const auto toPane = [&pane](const std::string& line) {
    if (pane) pane->Append(line);
  };
  SoundPlayer sound(toPane);
  HelpWindow help(HelpFolders(run.programFolder));
  QtDesktop desktop(sound, help);
  AboutBox about;
  const auto showAbout = [&] {
    about.ShowModal({options.PathToData, options.PathToLog, registry.Path()});
  };

  MainWindow* window = nullptr;
  TaskbarListing* taskbar = nullptr;
  bool ended = false;
  // Leaving the program: set once the parts that must be told exist.
  std::function<void()> quit = [&app] { app.quit(); };
  const auto restore = [&taskbar] { taskbar->RestoreMainWindow(); };
  AppTray tray({
      [&window] { return window && window->isVisible() && !window->isMinimized(); },
      [&window] {
        window->raise();
        window->activateWindow();
      },
      restore,
      [&window] { return window && window->Commands().stop; },
      [&window](bool on) { window->SetPinging(on); },
      [&options] { return options.MultPlayWAV; },
      [&desktop] { desktop.StopSounds(); },
      [&desktop] { desktop.ShowHelp(1, 0); },
      showAbout,
      [&quit] { quit(); },
      toPane,
  });
  tray.SetToolTip(kApplicationTitle);
  tray.ApplyTrayMode(options.MinToTray);

  bool pinging = false;
  WindowPlacement placement = LoadPlacement(registry, pinging);

  SystemClock clock;
  QtUiThread ui;
  QtSocketNotifier notifier;
  IcmpContext icmp = DetectIcmpMode([] { return LoadIcmpLibrary(); }, OpenRawIcmpSocket);
  icmp.desktop = &desktop;
  icmp.notifier = &notifier;
  DialUp dialUp{OpenDialUpLines()};
  MailContext mail{desktop, clock, dialUp, smtpLogSwitch, run.programFolder};
  ActivityCounters counters;
  EventLog log;
  NotifyAlarmChannels channels(options, mail, desktop, ui, log, {}, &counters);

  // The history of every result; its notices reach the log on this thread.
  HistoryStore history(ProgramHistorySettings(options.PathToData, ui, log, clock), clock);

  MonitorServices services{clock, ui, desktop, options, log, icmp, channels, DateTextFormats{}};
  services.recorder = &history;
  services.figures = &history;
  services.counters = &counters;
  channels.StartOutbox(JoinPath(options.PathToData, kOutboxFolder), registry.Path(),
                       NotificationRecorder(&history));
  Monitor monitor(services);
  MetricsServer metrics(MonitorMetricsSource(monitor, counters, channels.Box()),
                        LogMetricsNotice(log, clock, ui));
  std::string metricsListen = options.MetricsListen;
  // Known before the hosts are loaded, so that every enabled host starts
  // checking as soon as it is loaded.
  monitor.SetPinging(pinging);
  // A manual ping or trace in progress is cut short and the workers end;
  // the alarms that were due get their moment, then a transfer still in
  // flight is aborted, while the log is open to say so. Then every local
  // loop ends (QCoreApplication::quit ends them all).
  const auto leave = [&] {
    monitor.Leave();
    monitor.Shutdown();
    FinishAlarms(monitor);
    channels.Leave();
  };
  quit = [&] {
    leave();
    app.quit();
  };

  // One history window, made at its first use and kept, as the dialogs are.
  HistoryWindow* historyWindow = nullptr;
  const auto showHistory = [&](std::optional<std::size_t> row) {
    HostList& hosts = monitor.Hosts();
    if (!historyWindow) {
      const auto listedHosts = [&hosts] {
        std::vector<ListedHost> listed;
        for (std::size_t r = 0; r < hosts.Count(); ++r) {
          const HostEntry& host = hosts.Host(r);
          ListedHost& entry = listed.emplace_back();
          entry.host = HistoryHostOf(host);
          for (std::size_t i = 0; i < 4; ++i) entry.lightTimes[i] = host.LightTimes[i];
        }
        return listed;
      };
      historyWindow = new HistoryWindow({history.Path(), clock, listedHosts}, window);
      historyWindow->ApplyLanguage(LoadLanguage(options.Language, LanguageFolders()));
    }
    std::optional<HistoryHost> host;
    if (row && *row < hosts.Count()) host = HistoryHostOf(hosts.Host(*row));
    historyWindow->ShowHost(host);
    historyWindow->show();
    historyWindow->raise();
    historyWindow->activateWindow();
  };

  MainWindowHooks hooks;
  hooks.setTrayImage = [&tray](TrayImage image) { tray.SetImage(image); };
  hooks.setTrayCaptions = [&tray](const TrayCaptions& captions) { tray.SetCaptions(captions); };
  hooks.setCountsText = [&tray](const QString& counts) {
    tray.SetToolTip(QString(kApplicationTitle) + "\n" + counts);
  };
  hooks.minimiseToTray = [&tray] { return tray.MinimiseToTray(); };
  hooks.about = showAbout;
  hooks.closed = [&quit] { quit(); };
  hooks.closing = leave;
  hooks.showHistory = showHistory;
  hooks.echoLibrary = icmp.library;
  MainWindow mainWindow(monitor, options, desktop, log, placement, hooks);
  window = &mainWindow;
  TaskbarListing taskbarListing(mainWindow);
  taskbar = &taskbarListing;
  pane = &mainWindow.Pane();
  desktop.SetOwner(&mainWindow);
  HostFormServices hostServices;
  hostServices.hosts = &monitor.Hosts();
  hostServices.programFolder = run.programFolder;
  hostServices.targetNames = [path = registry.Path()] { return StoredTargetNames(path); };
  HostForm hostForm(options, desktop, channels, hostServices, &mainWindow);
  mainWindow.SetHostEditor(&hostForm);

  PasswordStore passwords(registry);
  PasswordForm passwordForm(passwords, desktop, &mainWindow);
  passwordForm.SetNotice(toPane);
  passwordForm.SetBeforeShow(
      [&] { passwordForm.ApplyLanguage(LoadLanguage(options.Language, LanguageFolders())); });

  // Each window reads the file named by the options at the moment it runs;
  // the password dialog reads it before each showing.
  OptionsForm* optionsFormRef = nullptr;
  LibraryTranslations libraryTranslations;
  const auto applyLanguages = [&] {
    const std::optional<IniFile> file = LoadLanguage(options.Language, LanguageFolders());
    // First the toolkit's own texts, so that what the windows build from
    // them (standard buttons) is in the same language.
    libraryTranslations.Apply(file);
    mainWindow.ApplyLanguage(file);
    hostForm.ApplyLanguage(file);
    optionsFormRef->ApplyLanguage(file);
    passwordForm.ApplyLanguage(file);
    if (historyWindow) historyWindow->ApplyLanguage(file);
    about.ApplyLanguage(file);
    const auto text = [&file](const char* key) {
      return QString::fromStdString(CaptionText(file, kMainFormSection, key));
    };
    help.ApplyLanguage(text("HelpTitle"), text("HelpNotTranslated"), LanguageLocale(file));
  };
  OptionsForm optionsForm(
      {options, registry, desktop, passwordForm, dialUp, ListLanguageFiles(LanguageFolders()),
       [&] {
         // Auto Run is the desktop session's autostart entry of this program,
         // written or removed only here.
         std::string error;
         if (!SetAutostart(options.AutoRun, GetProgramPath(), &error))
           toPane("Auto Run: " + error + "\r\n");
         taskbarListing.SetListed(!tray.ApplyTrayMode(options.MinToTray));
         applyLanguages();
         mainWindow.UpdateCommands();  // "Stop all sounds" follows MultPlayWAV
         monitor.SetUplinkHosts(options.UplinkHosts);
         // Restarted only when the address changed (a restart drops the
         // scrapes in progress), or when the endpoint is not running: "OK"
         // then means "try now" rather than waiting for the next retry.
         if (options.MetricsListen != metricsListen || !metrics.Running()) {
           metricsListen = options.MetricsListen;
           metrics.Apply(metricsListen);
         }
       },
       toPane},
      &mainWindow);
  optionsFormRef = &optionsForm;
  optionsForm.SetMailTest([&channels](const ROptions& trial, const std::string& to) {
    return channels.TestMail(trial, to, std::string(kTestBody), std::string(kMailTestSubject));
  });
  mainWindow.SetOptionsCommands([&optionsForm] { optionsForm.EditOptions(); },
                                [&passwordForm] { passwordForm.SetPassword(); });

  log.SetPane(pane);
  log.Open({options.PathToLog, options.LogSize, smtpLogSwitch, run.programFolder}, desktop,
           DiscardToTrash);
  if (!registryWarning.empty())
    pane->Append(registry.Path() + ": " + registryWarning + "\r\n");
  applyLanguages();
  taskbarListing.SetListed(!tray.Shown());
  mainWindow.Start();
  metrics.Apply(metricsListen);

  // A window that would start hidden with no tray icon to bring it back
  // starts minimised instead.
  if (!placement.PlacementLoaded || placement.Visible) {
    mainWindow.show();
  } else if (!tray.Shown()) {
    mainWindow.showMinimized();
  }

  QTimer status;
  status.setSingleShot(true);
  QObject::connect(&status, &QTimer::timeout, [&] {
    monitor.CheckStatusReport(clock.Now());
    status.start(UntilNextStatusTick(clock.Now()));
  });
  status.start(UntilNextStatusTick(clock.Now()));

  const auto storeState = [&] {
    if (CaptureAtSessionEnd(placement, mainWindow.isVisible())) mainWindow.CapturePlacement();
    SavePlacement(placement, monitor.Pinging(), registry);
    KeepStoredTargets(registry);
    std::string error;
    if (!registry.Save(&error)) std::fprintf(stderr, "sentrel: %s\n", error.c_str());
  };
  const auto endSession = [&] {
    if (ended) return;
    ended = true;
    storeState();
    if (monitor.Hosts().Modified()) monitor.SaveHosts();
  };
  QObject::connect(&app, &QGuiApplication::commitDataRequest, [&](QSessionManager&) { endSession(); });
  // SIGTERM and SIGINT end the program as the end of the desktop session
  // does, on the window thread.
  const StopRequests termination([&] {
    QMetaObject::invokeMethod(&app, [&] {
      endSession();
      quit();
    }, Qt::QueuedConnection);
  });

  const int code = app.exec();
  if (!ended) storeState();
  metrics.Stop();
  monitor.Shutdown();
  FinishAlarms(monitor);
  channels.Leave();
  QCoreApplication::sendPostedEvents();  // the alarms whose mail was dropped end
  log.Close();
  StopSockets();
  return code;
}

}  // namespace sentrel
