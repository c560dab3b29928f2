#include "core/folder_question.h"

#include <filesystem>

namespace sentrel {

FolderOutcome EnsureFolderExists(const std::string& folder, Desktop& desktop) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return FolderOutcome::Exists;
  const std::string question = "Directory \"" + folder + "\" isn't exist. Will create it?";
  if (desktop.ShowMessage(question, kApplicationTitle, MessageIcon::Question,
                          MessageButtons::YesNo) != MessageResult::Yes) {
    return FolderOutcome::Declined;
  }
  std::filesystem::create_directories(folder, ec);
  return !ec && std::filesystem::is_directory(folder, ec) ? FolderOutcome::Exists
                                                          : FolderOutcome::Failed;
}

}  // namespace sentrel
