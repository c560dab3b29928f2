#pragma once

class QFileDialog;
class QPushButton;
class QWidget;

namespace sentrel {

// Sizing that keeps every caption whole, in every language and at every
// scale: the window grows to its contents rather than cutting them.

// Prepares a dialog once its controls are in place: its tab bars never
// scroll nor shorten a caption (the window widens instead, and where one
// row of tabs would not fit on the screen a list of the pages, named after
// the tab widget with "List" appended, takes their place), its lists are
// as wide as their longest item even after a language change, and the
// window can never be made smaller than its contents.
void KeepCaptionsWhole(QWidget& dialog);

// Sizes a window afresh from its contents in the current language, so that
// two openings in one language give one size, and picks tabs or the page
// list for the screen it is on. Call on each showing.
void FitToContents(QWidget& window);

// The width that a push button needs for its caption, without the wider
// button that the style would like for a dialog's main buttons.
int CaptionWidth(const QPushButton& button);
// Makes a small button such as "..." just as wide as its caption needs.
void NarrowToCaption(QPushButton& button);

// Sizes a file or folder chooser so that names and their columns read
// whole, within the screen it opens on.
void FitFileChooser(QFileDialog& chooser);

}  // namespace sentrel
