#pragma once

#include <optional>

#include "settings/language_table.h"

class QWidget;

namespace sentrel {

class IniFile;

// Sets the captions of a window whose controls are named by their language
// keys: every child of that name (labels, buttons, boxes, groups, tab pages)
// takes the text of the language file, or the built-in text. Lists are
// refilled in item order; the dialog selects again when it next opens.
void ApplyCaptionsByName(QWidget& window, LanguageWindow which, const std::optional<IniFile>& file);

}  // namespace sentrel
