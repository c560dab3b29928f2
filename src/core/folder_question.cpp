#include "core/folder_question.h"

#include <filesystem>

namespace sentrel {

bool EnsureFolderExists(const std::string& folder, Desktop& desktop) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return true;
  const std::string question = "Directory \"" + folder + "\" isn't exist. Will create it?";
  if (desktop.ShowMessage(question, kApplicationTitle, MessageIcon::Question,
                          MessageButtons::YesNo) != MessageResult::Yes) {
    return false;
  }
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec);
}

}  // namespace sentrel
