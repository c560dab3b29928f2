#pragma once

#include <optional>

#include "settings/language_table.h"

class QString;
class QWidget;

namespace sentrel {

class IniFile;

// Shows `text` as the caption of a label, a button or a group box; other
// widgets have no caption of their own and stay as they are.
void SetWidgetCaption(QWidget& widget, const QString& text);

// Sets the captions of a window whose controls are named by their language
// keys: every child of that name (labels, buttons, boxes, groups, tab pages)
// takes the text of the language file, or the built-in text. Lists are
// refilled in item order; the dialog selects again when it next opens.
void ApplyCaptionsByName(QWidget& window, LanguageWindow which, const std::optional<IniFile>& file);

}  // namespace sentrel
