#include "core/event_log.h"

#include <algorithm>
#include <filesystem>

#include "core/folder_question.h"
#include "platform/append_line.h"
#include "platform/paths.h"
#include "platform/write_all.h"

namespace fs = std::filesystem;

namespace sentrel {

void AppendToPaneText(std::string& paneText, const std::string& text) {
  if (paneText.size() > kLogPaneLimit) {
    std::size_t cut = paneText.find('\n');
    if (cut != std::string::npos) cut = paneText.find('\n', cut + 1);
    paneText.erase(0, cut == std::string::npos ? paneText.size() : cut + 1);
  }
  paneText += text;
}

EventLog::~EventLog() { Close(); }

std::string EventLog::LogPath(const std::string& folder) { return JoinPath(folder, "sentrel.log"); }

std::string EventLog::BackupPath(const std::string& folder) {
  return JoinPath(folder, "sentrel.log.BAK");
}

namespace {

void RotateWhenTooLarge(const LogSettings& settings, const DiscardFile& discard) {
  const std::string log = EventLog::LogPath(settings.folder);
  const std::string backup = EventLog::BackupPath(settings.folder);
  std::error_code ec;
  const auto size = fs::file_size(log, ec);
  if (ec) return;
  const auto limit =
      static_cast<std::uintmax_t>(std::max<int32_t>(settings.sizeMegabytes, 0)) * 1048576u;
  if (size <= limit) return;
  // Keep appending to the log where it is when the old backup cannot go.
  if (fs::exists(backup, ec) && !discard(backup)) return;
  fs::rename(log, backup, ec);
}

void DeleteOldSmtpLog(const LogSettings& settings) {
  std::error_code ec;
  const std::string folder =
      fs::is_directory(settings.folder, ec) ? settings.folder : settings.programFolder;
  fs::remove(JoinPath(folder, "smtp.log"), ec);
}

}  // namespace

bool EventLog::Open(const LogSettings& settings, Desktop& desktop, const DiscardFile& discard) {
  Close();
  if (settings.smtpLogSwitch) DeleteOldSmtpLog(settings);
  if (EnsureFolderExists(settings.folder, desktop) == FolderOutcome::Exists) {
    RotateWhenTooLarge(settings, discard);
    const int fd = OpenForAppending(LogPath(settings.folder));
    std::lock_guard lock(mutex_);
    fd_ = fd;
  }
  if (!IsOpen()) {
    desktop.ShowAlert("Can't create log file.", kApplicationTitle, MessageIcon::Error);
  }
  return IsOpen();
}

void EventLog::Close() {
  std::lock_guard lock(mutex_);
  CloseAppending(fd_);
  fd_ = -1;
}

bool EventLog::IsOpen() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

void EventLog::SetPane(LogPane* pane) {
  std::lock_guard lock(mutex_);
  pane_ = pane;
}

void EventLog::Write(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (pane_) pane_->Append(text);
  if (fd_ >= 0) WriteAll(fd_, text, WhenNothingWritten::GiveUp);
}

void EventLog::ShowInPane(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (pane_) pane_->Append(text);
}

void EventLog::WriteToFile(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) WriteAll(fd_, text, WhenNothingWritten::GiveUp);
}

}  // namespace sentrel
