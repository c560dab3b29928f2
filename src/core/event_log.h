#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/desktop.h"

namespace sentrel {

// The log pane of the main window (the headless runner prints instead).
class LogPane {
 public:
  virtual ~LogPane() = default;
  // Appends `text`, which ends in CR LF, and keeps the newest line visible.
  virtual void Append(const std::string& text) = 0;
};

// The pane keeps about 16 KiB: once its text is longer than this, every new
// entry first drops the two oldest lines.
inline constexpr std::size_t kLogPaneLimit = 16384;
void AppendToPaneText(std::string& paneText, const std::string& text);

struct LogSettings {
  std::string folder;          // PathToLog
  int32_t sizeMegabytes = 2;   // LogSize
  bool smtpLogSwitch = false;  // the "sl" switch: start a fresh smtp.log
  std::string programFolder;   // where smtp.log lives when `folder` does not exist
};

// Removes a file that is being discarded: to the desktop's trash in the
// window shell, a plain delete otherwise. Returns true when it is gone.
using DiscardFile = std::function<bool(const std::string& path)>;

// The event log file sentrel.log. Opened once at start; WriteLog goes to the
// pane and the file. Write is called on the window thread only, but the
// class locks anyway so that a stray caller cannot interleave two lines.
class EventLog {
 public:
  EventLog() = default;
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // OpenLog: the folder question, rotation (the log larger than the limit,
  // a negative limit counting as 0, becomes the backup), then the file is
  // opened for appending. Shows "Can't create log file." when no file could be opened;
  // the pane works either way. Returns whether a file is open.
  bool Open(const LogSettings& settings, Desktop& desktop, const DiscardFile& discard);
  void Close();
  bool IsOpen() const;

  void SetPane(LogPane* pane);
  // WriteLog: the text byte for byte to the pane and the end of the file.
  // A write error is ignored: logging must never stop monitoring.
  void Write(const std::string& text);
  // The two halves of Write, for a text that the pane shows piece by piece
  // as it comes and the file receives whole at the end (a manual trace).
  void ShowInPane(const std::string& text);
  void WriteToFile(const std::string& text);

  static std::string LogPath(const std::string& folder);
  // sentrel.log.BAK: never the host list's backup sentrel.BAK.
  static std::string BackupPath(const std::string& folder);

 private:
  mutable std::mutex mutex_;
  LogPane* pane_ = nullptr;
  int fd_ = -1;
};

}  // namespace sentrel
