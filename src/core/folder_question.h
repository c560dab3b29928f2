#pragma once

#include <string>

#include "platform/desktop.h"

namespace sentrel {

// Makes sure `folder` exists before a file is written into it: when it is
// missing, asks the user (Yes/No, question icon) whether to create it, and
// creates it with its missing parents on Yes.
enum class FolderOutcome { Exists, Declined, Failed };
FolderOutcome EnsureFolderExists(const std::string& folder, Desktop& desktop);

}  // namespace sentrel
