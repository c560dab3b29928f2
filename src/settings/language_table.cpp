#include "settings/language_table.h"

#include <array>

#include "common/text.h"
#include "settings/ini_file.h"

namespace sentrel {

namespace {

constexpr Caption Label(std::string_view key, std::string_view text, std::string_view shows) {
  return Caption{key, text, shows, CaptionList::kNone, -1};
}

constexpr Caption Item(std::string_view key, std::string_view text, std::string_view shows,
                       CaptionList list, int item) {
  return Caption{key, text, shows, list, item};
}

constexpr auto kMainForm = std::to_array<Caption>({
    Label("FileItem", "&File", "menu bar: File menu"),
    Label("PingItem", "&Ping", "menu bar: Ping; the tray menu's Ping item while checks are stopped"),
    Label("StopItem", "&Stop", "menu bar: Stop; the tray menu's Ping item while checks run"),
    Label("ExitItem", "E&xit", "menu bar: Exit; tray menu: Exit"),
    Label("HostsItem", "&Hosts", "menu bar: Hosts menu"),
    Label("EditItem", "&Edit", "menu bar: Edit host; context menu: Edit"),
    Label("AddItem", "&Add", "menu bar: Add; context menu: Add"),
    Label("DeleteItem", "&Delete", "menu bar: Delete; context menu: Delete"),
    Label("PingNowItem", "Ping &now", "menu bar: Ping now; context menu: Ping now"),
    Label("TraceNowItem", "&Trace now", "menu bar: Trace now; context menu: Trace now"),
    Label("HistoryItem", "&History...", "menu bar: History; context menu: History"),
    Label("ReloadIPsItem", "Re&load all Addresses",
          "menu bar: Reload all addresses; context menu: its last item"),
    Label("OptionsItem", "&Options...", "menu bar: Options menu"),
    Label("EditOptionsItem", "&Edit...", "menu bar: the options command"),
    Label("SetPassItem", "Set &password...", "menu bar: Set password"),
    Label("StopWAVItem", "&Stop all sounds", "menu bar: Stop all sounds; tray menu: Stop all sounds"),
    Label("HelpItem", "&Help", "menu bar: Help menu"),
    Label("ContentsItem", "&Contents", "menu bar: Contents"),
    Label("AboutItem", "&About...", "menu bar: About; tray menu: About"),
    Label("Header1", "IP", "list view: header of column 0"),
    Label("Header2", " Computer name or description", "list view: header of column 1"),
    Label("Header3", "Avr. Time", "list view: header of column 2"),
    Label("Header4", "Last Time", "list view: header of column 3"),
    Label("Header5", "Description", "list view: header of column 4"),
    Label("Header6", "Parent",
          "list view: header of the column (shown from the header's menu) that names the host "
          "each host is reached through; also that menu's item"),
    Label("PingBtn", "Ping", "toolbar: tooltip of the Ping button"),
    Label("StopBtn", "Stop ping", "toolbar: tooltip of the Stop button"),
    Label("AddBtn", "Add new host", "toolbar: tooltip of the Add button"),
    Label("EditBtn", "Edit host", "toolbar: tooltip of the Edit button"),
    Label("DeleteBtn", "Delete host", "toolbar: tooltip of the Delete button"),
    Label("HelpBtn", "Show help", "toolbar: tooltip of the Help button"),
    Label("Restore", "Restore", "tray menu: Restore"),
    Label("StopTraceItem", "Stop t&race", "menu bar: ends a running Trace now (also Escape)"),
    Label("Lost", "Lost", "list view: both time columns of a host that does not answer"),
    Label("Unreachable", "Unreachable",
          "list view: both time columns of a host that does not answer while a host it is "
          "reached through (or this computer's uplink) is down"),
    Label("Degraded", "Degraded",
          "list view: average time column of a host that answers beyond its degradation thresholds"),
    Label("StatusCounts", "%1 hosts, %2 down, %3 disabled",
          "status bar and tray tooltip: %1 hosts listed, %2 of them lost, %3 not checked"),
    Label("TrayHelp", "Help", "tray menu: Help"),
    Label("HelpTitle", "Sentrel Help", "help window: title"),
    Label("HelpNotTranslated", "This help has no translation yet; it is shown in English.",
          "help window: the line above help pages that exist only in English"),
    Label("AboutTitle", "About Sentrel", "about box: title"),
    Label("AboutPurpose",
          "Watches the hosts of your network with ICMP echo requests and raises an alarm when one "
          "stops answering or answers again.",
          "about box: what the program is for"),
    Label("AboutLicence",
          "Free software under the GNU General Public License, version 3 or later; it comes with "
          "no warranty.",
          "about box: the licence"),
    Label("AboutHostList", "Host list:", "about box: before the data folder"),
    Label("AboutEventLog", "Event log:", "about box: before the log folder"),
    Label("AboutSettings", "Settings:", "about box: before the settings file"),
    Label("ImportItem", "&Import hosts...", "menu bar: File, Import hosts"),
    Label("ExportItem", "&Export hosts...", "menu bar: File, Export hosts"),
    Label("DiscoverItem", "Dis&cover...", "menu bar: Hosts, Discover"),
});

constexpr auto kHostForm = std::to_array<Caption>({
    Label("Caption", "Host Properties", "window title"),
    Label("HostIP", "Host IP:", "label"),
    Label("ToName", ">> Name", "button"),
    Label("HostName", "Computer name:", "label"),
    Label("HostDesc", "Description:", "label"),
    Label("ToIP", ">> IP", "button"),
    Label("PingInterval", "Ping interval(sec):", "label"),
    Label("NOR", "Numer of retries:", "label"),
    Label("TimeOut", "Timeout(msec):", "ping label; also the trace route's time-out label"),
    Label("PBS", "Send buffer size:", "ping label"),
    Label("PTTL", "Time To Live(TTL):", "label"),
    Label("PTOS", "Type Of Service(TOS):", "label"),
    Label("PingBy", "Ping by", "label"),
    Item("Address", "Address", "\"Ping by\" item 0", CaptionList::kPingBy, 0),
    Item("Name", "Name", "\"Ping by\" item 1", CaptionList::kPingBy, 1),
    Label("IPFamily", "Address family:", "label"),
    Item("Automatic", "automatic", "\"Address family:\" item 0", CaptionList::kIPFamily, 0),
    Label("TraceRouteBox", "Trace Route", "group"),
    Label("BufferSize", "Send buffer size:", "trace route label"),
    Label("TTL", "Time to live:", "trace route label"),
    Label("MaxNumHops", "Max. number of hops to search for target:", "label"),
    Label("Default", "Use as default", "check box"),
    Label("Parent", "Reached through:",
          "label (the host this one is reached through; while it is down, this host's loss alarm "
          "waits)"),
    Label("NoParent", "(directly)", "\"Reached through:\" item 0: no host in between"),
    Label("WakeUp", "&Alarm when host wakes up", "check box, page \"On renewal\""),
    Label("Counts", "Count of repeats befor alarm:", "label, both alarm pages"),
    Label("ShowBox", "&Show  message box", "check box, both alarm pages"),
    Label("PlayWAV", "&Play WAV file:", "check box, both alarm pages"),
    Label("Test", "Test", "all six \"Test\" buttons"),
    Label("SendLan", "Send &message to this computer:", "check box, both alarm pages"),
    Label("SendEmail", "Send message to this &e-mail:", "check box, both alarm pages"),
    Label("RunPrg", "&Run this program:", "check box, both alarm pages"),
    Label("Params", "Parameters:", "label, both alarm pages"),
    Label("GoesDown", "&Alarm when host goes down", "check box, page \"On loss\""),
    Label("General", "&General", "page 0"),
    Label("Schedule", "&Schedule", "page 1"),
    Label("Onrenewal", "On &renewal", "page 2; also the upper group of the template page"),
    Label("Onloss", "On &loss", "page 3; also the lower group of the template page"),
    Label("MessageTemplate", "Message &Template", "page 4"),
    Label("Light", "L&ight", "page 5"),
    Label("HostInfo", "Host Info", "group"),
    Label("PingOpt", "Ping Options", "group"),
    Label("Subject", "Subject", "label, both template groups"),
    Label("MesBody", "Message body", "label, both template groups"),
    Label("RunTraceRoute", "Run Trace Route", "check box, both alarm pages"),
    Label("Notify", "Notify:", "label of the notification targets' list, both alarm pages"),
    Label("AlarmOptions", "Alarm Options", "group, both alarm pages"),
    Label("GrayLight", "The host isn't checked.", "light row 0"),
    Label("TimeStr", "Time less than", "light rows 1..4"),
    Label("RedLight", "Host isn't available.", "light row 5"),
    Label("MSStr", "ms.", "light rows 1..4"),
    Label("Degradation", "&Degradation", "page 6"),
    Label("DegradedIntro", "A host that answers slower or loses more than set here is degraded.",
          "page \"Degradation\": first line at its top"),
    Label("DegradedIntro2",
          "It is normal again once both figures are below 80 % of their thresholds.",
          "page \"Degradation\": second line at its top"),
    Label("DegradedLatency", "Average reply time above:", "page \"Degradation\": label"),
    Label("DegradedMs", "ms (0 = off)", "page \"Degradation\": after the reply time"),
    Label("DegradedLoss", "Loss above:", "page \"Degradation\": label"),
    Label("DegradedPercent", "% (0 = off)", "page \"Degradation\": after the loss"),
    Label("DegradedChecks", "Judged over the latest:", "page \"Degradation\": label"),
    Label("DegradedChecksUnit", "echo requests", "page \"Degradation\": after the count"),
    Label("DegradedTargets", "Notify targets:", "page \"Degradation\": label"),
    Label("DegradedTargetsHint", "They are told \"degraded\" and \"recovered\".",
          "page \"Degradation\": under the targets"),
    Label("CheckEveryLabel", "Check every", "label"),
    Item("Always", "Always", "\"Check every\" item 0", CaptionList::kCheckEvery, 0),
    Item("Month", "every Month", "\"Check every\" item 1", CaptionList::kCheckEvery, 1),
    Item("Week", "every Week", "\"Check every\" item 2", CaptionList::kCheckEvery, 2),
    Item("Day", "every Day", "\"Check every\" item 3", CaptionList::kCheckEvery, 3),
    Label("ErrorCaption", "Error...", "error box: title"),
    Label("ErrorLead", "Please, check your settings. ", "error box: before every message"),
    Label("IncorrectIP", "Incorrect IP address !!!", "error box: \"Ok\" with an address that is none"),
    Label("CheckLight", "Check light settings !!!", "error box: thresholds out of order"),
    Label("IncorrectInterval", "Incorrect ping interval !!!", "error box: \"Always\" without an interval"),
    Label("IncorrectDay", "Incorrect day of months !!!", "error box: \"every Month\" without a day"),
    Label("SetDayOfWeek", "Set day of week !!!", "error box: \"every Week\" without a day"),
    Label("SetTime", "Set time!!!", "error box: a schedule without a time"),
    Label("IncorrectDegradation", "Check degradation settings: loss 0 to 100 %, 1 to 1000 requests !!!",
          "error box: degradation thresholds out of range"),
    Label("ThresholdTooHigh", "This value can't be more than the ping timeout!!!",
          "error box: a light threshold typed above the time-out"),
    Label("NoHostName", "Can't determine host name !!!", "error box: \">> Name\" found no name"),
    Label("NoHostAddress", "Can't determine IP address !!!", "error box: \">> IP\" found no address"),
    Label("IncorrectHostName", "Incorrect host name !!!",
          "error box: \"Ok\" with a name that no lookup can take"),
    Label("DoesNotResolveNow", "does not resolve now",
          "message after a new name that has no address now; the name stands before it"),
    Label("MailTestCaption", "Sentrel Error", "e-mail \"Test\": title of its refusals"),
    Label("BadSmtpPort", "I'm sorry. The SMTP Port is incorrect!", "e-mail \"Test\": no port set"),
    Label("BadToAddress", "I'm sorry. The \"To\" address is incorrect!", "e-mail \"Test\": no address"),
    Label("DefaultSubject", "Sentrel Message!!!",
          "subject fields: shown for an empty subject; left as it is, the subject stays empty"),
    Label("SelectWAV", "Select WAV File", "WAV \"...\": title of the file chooser"),
    Label("WAVFiles", "WAV Files", "WAV \"...\": filter"),
    Label("SelectProgram", "Select program file", "program \"...\": title of the file chooser"),
    Label("ExeFiles", "Exe files", "program \"...\": filter"),
    Label("AllFiles", "All Files", "both file choosers: filter"),
});

constexpr auto kOptionsForm = std::to_array<Caption>({
    Label("Caption", "Options", "window title"),
    Label("LogSize", "Log size:", "label"),
    Label("MinToTray", "&Minimize to Tray", "check box"),
    Label("AutoRun", "Auto &Run", "check box"),
    Label("Language", "Language:", "label"),
    Label("MultPlayWAV", "Play WAV files only once", "check box"),
    Label("PathToData", "Path to data:", "label"),
    Label("PathToLog", "Path to log file:", "label"),
    Label("LogSize1", "Mb.", "label after the log size"),
    Label("LogDetail", "Log detail:", "label"),
    Label("ServerName1", "SMTP server", "first line of the server label"),
    Label("ServerName2", "name:", "second line of the server label"),
    Label("Port", "Port:", "label"),
    Label("From", "From:", "label"),
    Label("Encryption", "Encryption:", "label; also in the report of the mail test"),
    Item("SecurityNone", "None", "\"Encryption:\" item 0", CaptionList::kEncryption, 0),
    Item("SecurityStartTls", "STARTTLS when offered", "\"Encryption:\" item 1",
         CaptionList::kEncryption, 1),
    Item("SecurityStartTlsRequired", "STARTTLS required", "\"Encryption:\" item 2",
         CaptionList::kEncryption, 2),
    Item("SecurityTls", "TLS (SMTPS)", "\"Encryption:\" item 3", CaptionList::kEncryption, 3),
    Label("SMTPCAFile", "CA file:", "label (certificates trusted besides the system's)"),
    Label("MailTest", "Test", "button: sends a test message"),
    Label("MailTestTo", "Send a test message to:", "question of the mail test"),
    Label("MailTestSent", "The server accepted the test message.",
          "report of the mail test (also the host dialog's)"),
    Label("MailTestFailed", "The test message was not sent:",
          "report of the mail test, followed by the reason"),
    Label("MailTestAuth", "Authentication:", "report of the mail test"),
    Label("MailTestNone", "none", "report of the mail test: no encryption or authentication"),
    Label("MailTestRetry", "A later attempt may succeed.", "report of the mail test"),
    Label("MailTestFinal", "This stays so until the settings or the server change.",
          "report of the mail test"),
    Label("ConnectVia", "Connect via", "group"),
    Label("ViaLan", "Lan", "radio button"),
    Label("DialUp", "DialUp", "radio button"),
    Label("AutoConnect", "AutoConnect", "check box"),
    Label("Disconnect", "Disconnect after transfer", "check box"),
    Label("Connection", "Connection:", "label"),
    Label("Login", "Login:", "label"),
    Label("Password", "Password:", "dial-up label; also the SMTP authentication password label"),
    Label("DeleteLog2Recycle", "Delete log file to recycle &bin", "check box"),
    Label("Interface", "Interface", "page 0"),
    Label("LogSettings", "Log settings", "page 1"),
    Label("EmailSettings", "eMail Settings", "page 2"),
    Label("StatusNotification", "Status notification", "page 3"),
    Item("LogLevel1", "Don't log server events.", "\"Log detail:\" item 0", CaptionList::kLogDetail, 0),
    Item("LogLevel2", "Log host state changes only.", "\"Log detail:\" item 1",
         CaptionList::kLogDetail, 1),
    Item("LogLevel3", "Log all host events.", "\"Log detail:\" item 2", CaptionList::kLogDetail, 2),
    Label("StatusLabel", "Status message body:", "label"),
    Label("SMTPAuthentication", "SMTP Authentication", "group"),
    Label("DialUpOptions", "DialUp Options", "group"),
    Label("Username", "Username:", "label"),
    Label("SendViaLabel", "Send via:", "label"),
    Label("StatAddressLabel", "Address:", "label"),
    Label("MetricsListenLabel", "Metrics on:", "label (address:port of the Prometheus endpoint)"),
    Label("UplinkHostsLabel", "Uplink hosts:",
          "label (the addresses this computer reaches the network through; none answering holds "
          "every loss alarm)"),
    Label("Notifications", "Notifications", "page 4"),
    Label("TargetsLabel", "Targets:", "label of the notification targets' list"),
    Label("AddTarget", "&Add...", "button"),
    Label("EditTarget", "&Edit...", "button"),
    Label("RemoveTarget", "Re&move", "button"),
    Label("TestTarget", "&Test", "button: sends a test message to the selected target"),
    Label("StatusTargetsLabel", "Status message also to:", "label (target names, comma-separated)"),
    Label("TargetName", "&Name:", "target dialog: label"),
    Label("TargetKind", "&Kind:", "target dialog: label"),
    Label("TargetUrl", "&URL:", "target dialog: label"),
    Label("TargetValues", "&Values (KEY=VALUE, one a line):", "target dialog: label"),
    Label("NetMessageCodePageLabel", "Messenger code page:",
          "label (the OEM code page of the computers that receive messages)"),
    Item("CodePageAuto", "Automatic", "messenger code page item 0", CaptionList::kNetMessageCodePage, 0),
    Item("CodePage437", "437 (US)", "messenger code page item 1", CaptionList::kNetMessageCodePage, 1),
    Item("CodePage850", "850 (Western European)", "messenger code page item 2", CaptionList::kNetMessageCodePage, 2),
    Item("CodePage852", "852 (Central European)", "messenger code page item 3", CaptionList::kNetMessageCodePage, 3),
    Item("CodePage866", "866 (Cyrillic)", "messenger code page item 4", CaptionList::kNetMessageCodePage, 4),
    Item("CodePage737", "737 (Greek)", "messenger code page item 5", CaptionList::kNetMessageCodePage, 5),
    Item("CodePage775", "775 (Baltic)", "messenger code page item 6", CaptionList::kNetMessageCodePage, 6),
    Item("CodePage855", "855 (Cyrillic, old)", "messenger code page item 7", CaptionList::kNetMessageCodePage, 7),
    Item("CodePage857", "857 (Turkish)", "messenger code page item 8", CaptionList::kNetMessageCodePage, 8),
    Label("SendEveryLabel", "Send every", "label"),
    Item("Month", "Month", "\"Send every\" item 0", CaptionList::kSendEvery, 0),
    Item("Week", "Week", "\"Send every\" item 1", CaptionList::kSendEvery, 1),
    Item("Day", "Day", "\"Send every\" item 2", CaptionList::kSendEvery, 2),
    Item("Never", "Never", "\"Send every\" item 3", CaptionList::kSendEvery, 3),
    Item("SendViaLan", "Lan", "\"Send via:\" item 0", CaptionList::kSendVia, 0),
    Item("SendViaEmail", "eMail", "\"Send via:\" item 1", CaptionList::kSendVia, 1),
    Label("NoConnection", "None", "\"Connection:\" the item for no dial-up connection"),
    // The chooser's title always was this one, whatever the language.
    Label("FolderTitle", "Выберите каталог", "title of the folder chooser of both path fields"),
    Label("DaysOfWeek", "Days of week", "group; also in the host dialog"),
    Label("Sunday", "Sunday", "day check box; also in the host dialog"),
    Label("Monday", "Monday", "day check box; also in the host dialog"),
    Label("Tuesday", "Tuesday", "day check box; also in the host dialog"),
    Label("Wednesday", "Wednesday", "day check box; also in the host dialog"),
    Label("Thursday", "Thursday", "day check box; also in the host dialog"),
    Label("Friday", "Friday", "day check box; also in the host dialog"),
    Label("Saturday", "Saturday", "day check box; also in the host dialog"),
    Label("DayOfMonthLabel", "Day:", "label; also in the host dialog"),
    Label("TimeLabel", "Time:", "label; also in the host dialog"),
});

constexpr auto kPasswordForm = std::to_array<Caption>({
    Label("Caption", "Password", "window title"),
    Label("New_Password", "New Password:", "label"),
    Label("Input_Password", "Input Password:", "label"),
    Label("Confirm_Password", "Confirm New Password:", "label"),
    Label("WrongPassword", "Wrong password", "message box: a password that is not the one set"),
    Label("TryAnother", "Sorry, try another...", "message box: the new password and its confirmation differ"),
});

// The history window; the keys without a control of that name are texts
// that the window puts together itself.
constexpr auto kHistoryForm = std::to_array<Caption>({
    Label("HistoryForm", "History", "window title, followed by \" - \" and the host"),
    Label("HostLabel", "&Host:", "label of the host chooser"),
    Label("PeriodHour", "Hour", "button"),
    Label("PeriodDay", "Day", "button"),
    Label("PeriodWeek", "Week", "button"),
    Label("PeriodMonth", "Month", "button"),
    Label("AvailabilityLabel", "Availability:", "label"),
    Label("LossLabel", "Loss:", "label"),
    Label("AverageLabel", "Average:", "label"),
    Label("JitterLabel", "Jitter:", "label"),
    Label("RangeLabel", "Range:", "label"),
    Label("OutagesLabel", "Outages:", "label"),
    Label("OutageTimeLabel", "Outage time:", "label"),
    Label("MonitoredLabel", "Monitored:", "label"),
    Label("ExportBtn", "&Export CSV...", "button"),
    Label("CloseBtn", "&Close", "button"),
    Label("StartColumn", "Start", "outage table: header of column 1"),
    Label("EndColumn", "End", "outage table: header of column 2"),
    Label("DurationColumn", "Duration", "outage table: header of column 3"),
    Label("StatusColumn", "Status", "outage table: header of column 4"),
    Label("TraceColumn", "Trace hops", "outage table: header of column 5"),
    Label("NotifiedColumn", "Notifications", "outage table: header of column 6, the notifications delivered or given up"),
    Label("LossCount", "(%1 of %2)", "after the loss: %1 lost of %2 sent"),
    Label("AtLeast", "at least %1", "duration of an open outage whose host is no longer checked"),
    Label("GoingOn", "going on", "end of an outage whose host is still checked"),
    Label("NoChecksSince", "no checks since %1", "end of an outage whose host is no longer checked"),
    Label("Interrupted", "The checks were stopped during this outage; it ends at the first reply after them.",
          "tip on the duration of an outage during which the checks stopped"),
    Label("TraceHint", "The trace of the selected outage, when its loss alarm ran one.",
          "trace pane while it is empty"),
    Label("NothingRecorded", "Nothing recorded for this host yet.", "status line"),
    Label("NoRecordsYet", "No history has been recorded yet (%1).", "status line: %1 is the history file"),
    Label("HistoryUnreadable", "The history cannot be read:", "status line, followed by the reason"),
    Label("NotInList", "(not in the list)", "host chooser: after a host that left the list"),
    Label("NoHistory", "No history for this period", "graph without data"),
    Label("ExportTitle", "Export CSV", "title of the file chooser"),
    Label("CsvFiles", "CSV files", "file chooser: filter"),
    Label("AllFiles", "All files", "file chooser: filter"),
    Label("ExportFailed", "The CSV file could not be written:", "message box, followed by the reason"),
    Label("Status11002v6", "no route to destination", "outage status of an IPv6 host, after 11002"),
    Label("Status11003v6", "address unreachable", "outage status of an IPv6 host, after 11003"),
    Label("Status11004v6", "administratively prohibited",
          "outage status of an IPv6 host, after 11004 (a router or firewall refused)"),
    Label("Status11013v6", "hop limit exceeded", "outage status of an IPv6 host, after 11013"),
    Label("Status11014v6", "reassembly time exceeded", "outage status of an IPv6 host, after 11014"),
    Label("MonitoredOf", "%1 of %2", "monitored: %1 the time the host was checked of %2, the period up to now"),
    Label("NotMonitored", "(%1 not monitored, not counted)",
          "after the monitored time: %1 the time in which the host was not checked"),
    Label("InterruptedMark", "(checks stopped)", "after the duration of an outage during which the checks stopped"),
    Label("Status0", "answered", "status column: the words after the status number"),
    Label("Status11001", "buffer too small", "status column"),
    Label("Status11002", "network unreachable", "status column"),
    Label("Status11003", "host unreachable", "status column"),
    Label("Status11004", "protocol unreachable", "status column"),
    Label("Status11005", "port unreachable", "status column"),
    Label("Status11009", "packet too big", "status column"),
    Label("Status11010", "timed out", "status column"),
    Label("Status11012", "bad route", "status column"),
    Label("Status11013", "TTL expired in transit", "status column"),
    Label("Status11014", "TTL expired in reassembly", "status column"),
    Label("Status11015", "parameter problem", "status column"),
    Label("Status11016", "source quench", "status column"),
    Label("Status11050", "general failure", "status column"),
});

// The names of the shipped languages in the options dialog's list, by the
// file's name; a file of another name is listed by its name.
constexpr auto kLanguageNames = std::to_array<Caption>({
    Label("English", "English", "\"Language:\" the entry of English.lng"),
    Label("German", "German", "\"Language:\" the entry of German.lng"),
    Label("Russian", "Russian", "\"Language:\" the entry of Russian.lng"),
});

// The import preview; the outcome texts make up its last column, %1 being
// a row, a line or a reason.
constexpr auto kImportForm = std::to_array<Caption>({
    Label("ImportForm", "Import hosts", "window title, followed by \" - \" and the file"),
    Label("LineColumn", "Line", "table: header of column 1"),
    Label("AddressColumn", "Address", "table: header of column 2"),
    Label("NameColumn", "Name", "table: header of column 3"),
    Label("OutcomeColumn", "What will happen", "table: header of column 4"),
    Label("Summary", "%1 to add, %2 to skip, %3 to reject", "status line"),
    Label("LookingUp", "Looking up the host names...", "status line while names are looked up"),
    Label("ListFullNote", "The list holds at most 1024 hosts: %1 rows cannot be added.",
          "status line"),
    Label("ImportBtn", "&Add hosts", "button"),
    Label("CancelBtn", "Cancel", "button"),
    Label("HostFiles", "Host lists", "file chooser: filter"),
    Label("AllFiles", "All files", "file chooser: filter"),
    Label("ExportTitle", "Export hosts", "title of the file chooser"),
    Label("ExportFailed", "The hosts could not be exported:", "message box, followed by the reason"),
    Label("CannotRead", "The file cannot be read:", "message box, followed by the file"),
    Label("NoHeader",
          "The first line is no header row naming an address column (address, name, description, "
          "interval, enabled).",
          "message box"),
    Label("AddOutcome", "add", "outcome"),
    Label("UnresolvedOutcome", "add (does not resolve now)", "outcome"),
    Label("ListedOutcome", "skip: already listed in row %1", "outcome"),
    Label("RepeatedOutcome", "skip: the same host as line %1", "outcome"),
    Label("RejectOutcome", "reject: %1", "outcome, %1 one of the reasons below"),
    Label("NameForName", "a host name is itself the name; leave the name column empty", "reason"),
    Label("BadInterval", "the interval is not a number of seconds above 0", "reason"),
    Label("BadEnabled", "enabled is not yes or no", "reason"),
    Label("UnsafeText", "control characters, '<' and '>' are not allowed in host texts", "reason"),
    Label("UnclosedQuote", "a quote is not closed", "reason"),
    Label("UnknownParent", "the host it is reached through is neither on the list nor in the file", "reason"),
    Label("ListFull", "the list holds at most 1024 hosts", "reason"),
    Label("FaultEmpty", "no address or host name", "reason"),
    Label("FaultBlank", "blanks and control characters are not allowed in an address or host name",
          "reason"),
    Label("FaultTooLong", "a host name has at most 253 characters", "reason"),
    Label("FaultBadIpv4", "not an IPv4 address (four numbers of 0 to 255 joined by dots)", "reason"),
    Label("FaultNoAddressMark", "255.255.255.255 cannot be checked", "reason"),
    Label("FaultBadIpv6", "not an IPv6 address", "reason"),
    Label("FaultUnknownZone", "the zone after % names no network interface of this computer",
          "reason"),
    Label("FaultZoneNeeded", "a link-local IPv6 address needs its interface after % (fe80::1%eth0)",
          "reason"),
    Label("FaultBadCharacter", "a host name holds only letters a-z, digits, '-' and '.'", "reason"),
    Label("FaultEmptyLabel", "a host name has no empty part between dots", "reason"),
    Label("FaultLabelTooLong", "a part of a host name between dots has at most 63 characters",
          "reason"),
    Label("FaultHyphenAtEdge", "a part of a host name neither starts nor ends with '-'", "reason"),
    Label("FaultNumericTopLabel", "a host name does not end in a number (is it a mistyped address?)",
          "reason"),
});

// The sweep of an address range.
constexpr auto kDiscoverForm = std::to_array<Caption>({
    Label("DiscoverForm", "Discover hosts", "window title"),
    Label("RangeLabel", "&Range:", "label of the range field"),
    Label("RangeHint", "a.b.c.d/24 or a.b.c.d-e, at most 1024 addresses", "range field while empty"),
    Label("StartBtn", "&Start", "button"),
    Label("AddressColumn", "Address", "table: header of column 1"),
    Label("NameColumn", "Name", "table: header of column 2"),
    Label("TimeColumn", "Reply time", "table: header of column 3"),
    Label("ListedColumn", "In the list", "table: header of column 4"),
    Label("ListedRow", "row %1", "table: a host the list holds"),
    Label("NewHost", "new", "table: a host the list does not hold"),
    Label("Sweeping", "%1 of %2 addresses swept, %3 answered", "status line during a sweep"),
    Label("SweepDone", "%1 of %2 addresses answered", "status line after a sweep"),
    Label("SweepStopped", "Stopped: %1 addresses had answered", "status line after Cancel"),
    Label("BadRange",
          "Give a range as a.b.c.d/N (N from 22 to 32) or a.b.c.d-e: at most 1024 IPv4 addresses.",
          "status line"),
    Label("NoIcmp", "No ICMP available: echo requests cannot be sent.", "status line"),
    Label("AddSelectedBtn", "Add s&elected", "button"),
    Label("CancelBtn", "Cancel", "button: stops a sweep, else closes the window"),
});

constexpr auto kButtons = std::to_array<Caption>({
    Label("Ok", "Ok", "button of the three dialogs"),
    Label("Cancel", "Cancel", "button of the three dialogs"),
    Label("Help", "Help", "button of the host and options dialogs"),
});

constexpr auto kSections = std::to_array<CaptionSection>({
    {kMainFormSection, kMainForm},
    {kHostFormSection, kHostForm},
    {kOptionsFormSection, kOptionsForm},
    {kPasswordFormSection, kPasswordForm},
    {kButtonsSection, kButtons},
    {kHistoryFormSection, kHistoryForm},
    {kLanguageNamesSection, kLanguageNames},
    {kImportFormSection, kImportForm},
    {kDiscoverFormSection, kDiscoverForm},
});

// The schedule page of the host dialog reads these from OptionsForm.
constexpr auto kSharedScheduleKeys = std::to_array<std::string_view>({
    "DaysOfWeek", "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday",
    "DayOfMonthLabel", "TimeLabel",
});

void AppendSection(std::vector<CaptionRead>& reads, std::string_view section) {
  for (const Caption& caption : SectionCaptions(section)) reads.push_back({section, &caption});
}

void AppendKeys(std::vector<CaptionRead>& reads, std::string_view section,
                std::span<const std::string_view> keys) {
  for (std::string_view key : keys) reads.push_back({section, FindCaption(section, key)});
}

// The section that holds the items of `list`: HostForm for kPingBy and
// kCheckEvery, OptionsForm for kLogDetail, kSendEvery and kEncryption;
// empty for kNone.
std::string_view ListSection(CaptionList list) {
  switch (list) {
    case CaptionList::kPingBy:
    case CaptionList::kIPFamily:
    case CaptionList::kCheckEvery:
      return kHostFormSection;
    case CaptionList::kLogDetail:
    case CaptionList::kSendEvery:
    case CaptionList::kNetMessageCodePage:
    case CaptionList::kSendVia:
    case CaptionList::kEncryption:
      return kOptionsFormSection;
    case CaptionList::kNone:
      break;
  }
  return {};
}

}  // namespace

std::span<const CaptionSection> CaptionSections() { return kSections; }

std::span<const Caption> SectionCaptions(std::string_view section) {
  for (const CaptionSection& candidate : kSections) {
    if (EqualsIgnoringCase(candidate.name, section)) return candidate.captions;
  }
  return {};
}

const Caption* FindCaption(std::string_view section, std::string_view key) {
  for (const Caption& caption : SectionCaptions(section)) {
    if (EqualsIgnoringCase(caption.key, key)) return &caption;
  }
  return nullptr;
}

std::string CaptionText(const IniFile* file, std::string_view section, std::string_view key) {
  if (file != nullptr) {
    if (auto value = file->Get(section, key)) return std::move(*value);
  }
  const Caption* caption = FindCaption(section, key);
  return caption ? std::string(caption->text) : std::string();
}

std::string CaptionText(const std::optional<IniFile>& file, std::string_view section,
                        std::string_view key) {
  return CaptionText(file ? &*file : nullptr, section, key);
}

std::vector<std::string> ListCaptions(const IniFile* file, CaptionList list) {
  std::vector<std::string> items;
  const std::string_view section = ListSection(list);
  // The table keeps the items of each list in item order.
  for (const Caption& caption : SectionCaptions(section)) {
    if (caption.list == list) items.push_back(CaptionText(file, section, caption.key));
  }
  return items;
}

std::vector<std::string> ListCaptions(const std::optional<IniFile>& file, CaptionList list) {
  return ListCaptions(file ? &*file : nullptr, list);
}

std::vector<CaptionRead> WindowCaptions(LanguageWindow window) {
  static constexpr std::array<std::string_view, 3> kDialogButtons = {"Ok", "Cancel", "Help"};
  std::vector<CaptionRead> reads;
  switch (window) {
    case LanguageWindow::kMainForm:
      AppendSection(reads, kMainFormSection);
      break;
    case LanguageWindow::kHostForm:
      AppendSection(reads, kHostFormSection);
      AppendKeys(reads, kOptionsFormSection, kSharedScheduleKeys);
      AppendKeys(reads, kButtonsSection, kDialogButtons);
      break;
    case LanguageWindow::kOptionsForm:
      AppendSection(reads, kOptionsFormSection);
      AppendKeys(reads, kButtonsSection, kDialogButtons);
      break;
    case LanguageWindow::kPasswordForm:
      AppendSection(reads, kPasswordFormSection);
      AppendKeys(reads, kButtonsSection, std::span(kDialogButtons).first(2));
      break;
    case LanguageWindow::kHistoryForm:
      AppendSection(reads, kHistoryFormSection);
      break;
    case LanguageWindow::kImportForm:
      AppendSection(reads, kImportFormSection);
      break;
    case LanguageWindow::kDiscoverForm:
      AppendSection(reads, kDiscoverFormSection);
      break;
  }
  return reads;
}

}  // namespace sentrel
