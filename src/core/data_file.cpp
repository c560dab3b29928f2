#include "core/data_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "common/lenient_int.h"
#include "core/folder_question.h"
#include "settings/text_model.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "probes/address.h"

namespace sentrel {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kBlockOpen = "<H>";
constexpr std::string_view kBlockClose = "</H>";

class BlockWriter {
 public:
  BlockWriter(std::string& out, const HostEntry& host) : out_(out), host_(host) {}

  // A text field; one that the user left as it was read from legacy bytes
  // gets those bytes back, an edited one is written as UTF-8.
  void Text(std::string_view tag, std::string_view value) {
    const auto legacy = host_.LegacyTexts.find(tag);
    if (legacy != host_.LegacyTexts.end() && legacy->second.decoded == value) {
      value = legacy->second.bytes;
    }
    out_.append("<").append(tag).append(">").append(value);
    out_.append("</").append(tag).append(">").append(kCrLf);
  }
  void TextIfAny(std::string_view tag, const SyncString& value) {
    const std::string text = value.Get();
    if (!text.empty()) Text(tag, text);
  }
  void FlagIfSet(std::string_view tag, bool value) {
    if (value) Text(tag, "T");
  }
  void NumberUnless(std::string_view tag, int64_t value, int64_t skipped) {
    if (value != skipped) Text(tag, std::to_string(value));
  }

 private:
  std::string& out_;
  const HostEntry& host_;
};

// The alarm tags that stand side by side for both directions; the caller
// writes the loss side's DRTR between Params and Subject.
void WriteAlarmHead(BlockWriter& w, char side, const AlarmSet& a) {
  const std::string p(1, side);
  w.FlagIfSet(p + "IA", a.Alarm);
  if (a.RepeatCount > 1) w.Text(p + "RC", std::to_string(a.RepeatCount.load()));
  w.FlagIfSet(p + "ISB", a.ShowBox);
  w.FlagIfSet(p + "IPW", a.PlayWAV);
  w.TextIfAny(p + "WN", a.WAVFile);
  w.FlagIfSet(p + "ISL", a.SendLan);
  w.TextIfAny(p + "LN", a.LanName);
  w.FlagIfSet(p + "ISE", a.SendEmail);
  w.TextIfAny(p + "EA", a.EmailAddress);
  w.FlagIfSet(p + "IR", a.RunPrg);
  w.TextIfAny(p + "PN", a.ProgramName);
  w.TextIfAny(p + "CL", a.Params);
}

void WriteAlarmTail(BlockWriter& w, char side, const AlarmSet& a) {
  const std::string p(1, side);
  w.TextIfAny(p + "SBJ", a.Subject);
  w.TextIfAny(p + "MB", a.MesBody);
  w.TextIfAny(p + "HK", a.Targets);
}

// Every text tag of a block, so that a file's legacy texts can be weighed
// together before any of them is decoded.
constexpr std::string_view kTextTags[] = {"HIP", "HN",  "HDS", "WWN", "WLN",  "WEA", "WPN",
                                          "WCL", "WSBJ", "WMB", "DWN", "DLN", "DEA", "DPN",
                                          "DCL", "DSBJ", "DMB", "PAR", "DGHK"};

void CollectTexts(std::string_view block, std::vector<std::string>& texts) {
  for (const std::string_view tag : kTextTags) texts.push_back(ReadTag(block, tag, ""));
}

// A text field as UTF-8; legacy bytes are decoded in the file's code page
// and remembered.
std::string ReadText(std::string_view text, std::string_view tag, std::string_view defaultValue,
                     HostEntry& host, int codePage) {
  std::string bytes = ReadTag(text, tag, defaultValue);
  std::string decoded = DecodeOutsideText(bytes, codePage);
  if (decoded == bytes) return decoded;
  host.LegacyTexts.insert_or_assign(std::string(tag), LegacyText{std::move(bytes), decoded});
  return decoded;
}

bool ReadFlag(std::string_view text, std::string_view tag, std::string_view defaultValue) {
  return ReadTag(text, tag, defaultValue) == "T";
}

int32_t ReadInt(std::string_view text, std::string_view tag, std::string_view defaultValue) {
  return ParseLenientInt(ReadTag(text, tag, defaultValue));
}

void ReadAlarm(std::string_view text, char side, AlarmSet& a, HostEntry& host, int codePage) {
  const std::string p(1, side);
  a.Alarm = ReadFlag(text, p + "IA", "F");
  a.ShowBox = ReadFlag(text, p + "ISB", "F");
  a.PlayWAV = ReadFlag(text, p + "IPW", "F");
  a.WAVFile.Set(ReadText(text, p + "WN", "", host, codePage));
  a.SendLan = ReadFlag(text, p + "ISL", "F");
  a.LanName.Set(ReadText(text, p + "LN", "", host, codePage));
  a.SendEmail = ReadFlag(text, p + "ISE", "F");
  a.EmailAddress.Set(ReadText(text, p + "EA", "", host, codePage));
  a.RepeatCount = ReadInt(text, p + "RC", "1");
  a.RunPrg = ReadFlag(text, p + "IR", "F");
  a.ProgramName.Set(ReadText(text, p + "PN", "", host, codePage));
  a.Params.Set(ReadText(text, p + "CL", "", host, codePage));
  a.Subject.Set(ReadText(text, p + "SBJ", "", host, codePage));
  a.MesBody.Set(ReadText(text, p + "MB", "", host, codePage));
  a.Targets.Set(ReadText(text, p + "HK", "", host, codePage));
}

// The whole file; 0 on success, else the reason (ENOENT: no file).
int ReadWholeFile(const std::string& path, std::string& bytes) {
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                        &std::fclose);
  if (!file) return errno != 0 ? errno : EIO;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, n);
  if (std::ferror(file.get()) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

// The text of every block, in order, up to the first block without its end.
std::vector<std::string_view> SplitBlocks(std::string_view rest) {
  std::vector<std::string_view> blocks;
  while (!rest.empty()) {
    const std::size_t open = rest.find(kBlockOpen);
    const std::size_t close = rest.find(kBlockClose);
    if (open == std::string_view::npos || close == std::string_view::npos) break;
    const std::size_t start = open + kBlockOpen.size();
    blocks.push_back(close > start ? rest.substr(start, close - start) : std::string_view());
    rest.remove_prefix(close + kBlockClose.size());
  }
  return blocks;
}

}  // namespace

std::string HostFilePath(const std::string& folder) { return JoinPath(folder, kHostFileName); }

std::string HostBackupPath(const std::string& folder) {
  return JoinPath(folder, kHostBackupName);
}

std::string ReadTag(std::string_view text, std::string_view name, std::string_view defaultValue) {
  text = text.substr(0, text.find('\0'));
  std::string open = "<";
  open.append(name).append(">");
  std::string close = "</";
  close.append(name).append(">");
  const std::size_t start = text.find(open);
  const std::size_t end = text.find(close);
  if (start == std::string_view::npos || end == std::string_view::npos) {
    return std::string(defaultValue);
  }
  const std::size_t valueStart = start + open.size();
  if (end < valueStart) return {};
  return std::string(text.substr(valueStart, end - valueStart));
}

std::string FormatHostBlock(const HostEntry& host) {
  std::string out;
  BlockWriter w(out, host);
  out.append(kBlockOpen).append(kCrLf);
  w.FlagIfSet("CHK", host.Enabled);
  w.Text("HIP", host.HostIP.Get());
  w.TextIfAny("HN", host.HostName);
  w.TextIfAny("HDS", host.HostDesc);
  w.NumberUnless("CHS", host.CheckEvery, 0);
  w.NumberUnless("DOM", host.DayOfMonth, 0);
  w.NumberUnless("DOW", host.DaysOfWeek, 0);
  // The slot set is written as the signed 64-bit number it always was.
  w.NumberUnless("TOD", static_cast<int64_t>(host.Times.load()), 0);
  w.NumberUnless("PI", host.PingInterval, 60);
  w.NumberUnless("NOR", host.Retries, 1);
  w.NumberUnless("TO", host.TimeOut, 5000);
  w.NumberUnless("PTTL", host.PTTL, 255);
  w.NumberUnless("PTOS", host.PTOS, 0);
  w.NumberUnless("PBS", host.PBS, 64);
  w.NumberUnless("TOTR", host.TraceTimeOut, 5000);
  w.NumberUnless("BSTR", host.TraceBufferSize, 60);
  w.NumberUnless("TTLTR", host.TraceTTL, 60);
  w.NumberUnless("MNOH", host.MaxNumHops, 100);
  // The light thresholds are written whenever they are set, defaults included.
  static constexpr const char* kLightTags[4] = {"GTIM", "LTIM", "YTIM", "OTIM"};
  for (std::size_t i = 0; i < 4; ++i) w.NumberUnless(kLightTags[i], host.LightTimes[i], 0);
  if (!host.PingByIP) w.Text("PBIP", "F");
  w.NumberUnless("IPF", host.IPFamily, 0);
  w.FlagIfSet("DFLT", host.UseAsDefault);
  w.TextIfAny("PAR", host.Parent);
  WriteAlarmHead(w, 'W', host.OnRenewal);
  WriteAlarmTail(w, 'W', host.OnRenewal);
  WriteAlarmHead(w, 'D', host.OnLoss);
  w.FlagIfSet("DRTR", host.OnLoss.RunTraceRoute);
  WriteAlarmTail(w, 'D', host.OnLoss);
  w.NumberUnless("DGL", host.DegradedLatency, 0);
  w.NumberUnless("DGP", host.DegradedLoss, 0);
  w.NumberUnless("DGN", host.DegradedChecks, kDefaultDegradationChecks);
  w.TextIfAny("DGHK", host.DegradedTargets);
  out.append(kBlockClose).append(kCrLf);
  return out;
}

std::string FormatHostFile(const HostList& list) {
  std::string out;
  for (std::size_t row = 0; row < list.Count(); ++row) out += FormatHostBlock(list.Host(row));
  return out;
}

void ParseHostBlock(std::string_view text, HostEntry& host, int codePage) {
  if (codePage == 0) {
    std::vector<std::string> texts;
    CollectTexts(text, texts);
    codePage = CommonCodePage(texts);
  }
  host.LegacyTexts.clear();
  host.Enabled = ReadFlag(text, "CHK", "F");
  host.HostIP.Set(ReadText(text, "HIP", kDefaultHostIP, host, codePage));
  host.HostName.Set(ReadText(text, "HN", "", host, codePage));
  host.HostDesc.Set(ReadText(text, "HDS", "", host, codePage));
  host.CheckEvery = ReadInt(text, "CHS", "0");
  host.DayOfMonth = ReadInt(text, "DOM", "0");
  host.DaysOfWeek = ReadInt(text, "DOW", "0");
  host.Times = static_cast<uint64_t>(ParseLenientInt64(ReadTag(text, "TOD", "0")));
  host.PingInterval = ReadInt(text, "PI", "60");
  host.Retries = ReadInt(text, "NOR", "1");
  host.TimeOut = ReadInt(text, "TO", "5000");
  host.PTTL = ReadInt(text, "PTTL", "255");
  host.PTOS = ReadInt(text, "PTOS", "0");
  host.PBS = ReadInt(text, "PBS", "64");
  host.TraceTimeOut = ReadInt(text, "TOTR", "5000");
  // Only the low 8 bits of these two were ever kept.
  host.TraceBufferSize = static_cast<uint8_t>(ReadInt(text, "BSTR", "60") & 0xFF);
  host.TraceTTL = static_cast<uint8_t>(ReadInt(text, "TTLTR", "60") & 0xFF);
  host.MaxNumHops = ReadInt(text, "MNOH", "100");
  static constexpr const char* kLightTags[4] = {"GTIM", "LTIM", "YTIM", "OTIM"};
  for (std::size_t i = 0; i < 4; ++i) {
    host.LightTimes[i] = ReadInt(text, kLightTags[i], std::to_string(kDefaultLightTimes[i]));
  }
  host.PingByIP = ReadFlag(text, "PBIP", "T");
  // Files of older versions have no IPF; a value this version does not know
  // counts as automatic.
  host.IPFamily = static_cast<int32_t>(AddressFamilyOf(ReadInt(text, "IPF", "0")));
  host.UseAsDefault = ReadFlag(text, "DFLT", "F");
  host.Parent.Set(ReadText(text, "PAR", "", host, codePage));
  ReadAlarm(text, 'W', host.OnRenewal, host, codePage);
  ReadAlarm(text, 'D', host.OnLoss, host, codePage);
  host.OnLoss.RunTraceRoute = ReadFlag(text, "DRTR", "F");
  // Kept as written, so that the file keeps it; the judge bounds it.
  host.DegradedLatency = ReadInt(text, "DGL", "0");
  host.DegradedLoss = ReadInt(text, "DGP", "0");
  host.DegradedChecks = ReadInt(text, "DGN", std::to_string(kDefaultDegradationChecks));
  host.DegradedTargets.Set(ReadText(text, "DGHK", "", host, codePage));
}

HostFileLoad LoadHosts(HostList& list, const std::string& folder) {
  list.SetLoading(true);
  HostFileLoad result;
  std::string bytes;
  // Without a folder there is no file (not one in the working directory).
  const std::string path = folder.empty() ? std::string() : HostFilePath(folder);
  const int err = path.empty() ? ENOENT : ReadWholeFile(path, bytes);
  if (err != 0 && err != ENOENT) {
    result.error = "Can't read the host list \"" + path + "\": " + std::strerror(err);
    list.SetLoadError(result.error);
  }
  if (err == 0) {
    const std::vector<std::string_view> blocks = SplitBlocks(bytes);
    std::vector<std::string> texts;
    for (const std::string_view block : blocks) CollectTexts(block, texts);
    const int codePage = CommonCodePage(texts);
    for (const std::string_view block : blocks) {
      if (list.Full()) break;  // the blocks after the last host taken are skipped
      auto host = list.CreateHost();
      ParseHostBlock(block, *host, codePage);
      if (list.AdoptLoadedHost(std::move(host))) ++result.loaded;
    }
  }
  list.SetLoading(false);
  list.SetModified(false);
  return result;
}

SaveResult SaveHosts(HostList& list, const std::string& folder, Desktop& desktop) {
  if (!list.Modified()) return SaveResult::NotModified;
  // The file holds hosts that could not be read: writing this list over it
  // would lose them.
  if (!list.LoadError().empty()) {
    desktop.ShowMessage(list.LoadError() + "\nThe host list is not saved, so that the file stays as it is.",
                        kApplicationTitle, MessageIcon::Error);
    return SaveResult::Failed;
  }
  if (folder.empty()) {
    desktop.ShowMessage("Can't save the host list: no data folder is set.", kApplicationTitle,
                        MessageIcon::Error);
    return SaveResult::Failed;
  }

  const FolderOutcome folderOutcome = EnsureFolderExists(folder, desktop);
  if (folderOutcome == FolderOutcome::Failed) {
    desktop.ShowMessage("Can't create the directory \"" + folder + "\".", kApplicationTitle,
                        MessageIcon::Error);
  }
  if (folderOutcome != FolderOutcome::Exists) {
    // The next change of the list asks again.
    list.SetModified(false);
    return SaveResult::NoFolder;
  }

  std::string error;
  const std::string path = HostFilePath(folder);
  if (!WriteFileAtomically(path, FormatHostFile(list), HostBackupPath(folder), &error, 0644)) {
    desktop.ShowMessage("Can't save the host list to \"" + path + "\".\n" + error,
                        kApplicationTitle, MessageIcon::Error);
    return SaveResult::Failed;
  }
  list.SetModified(false);
  return SaveResult::Saved;
}

}  // namespace sentrel
