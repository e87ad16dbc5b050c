#pragma once
// Settings mode: the settings command copies the button window's live
// geometry, colour and always-on-top state into the settings dialog, shows
// the recognition area as a yellow box with an instruction while the dialog is
// open modally, and hides the area again when the dialog closes.
class frmBase;
class frmSetDlg;

namespace SettingsMode {

// The highlighted area's caption: a title, an empty line, the instruction.
extern const char* const HighlightCaption;
// The highlighted area's colour, 0x00BBGGRR: yellow.
constexpr unsigned HighlightColor = 0x0000FFFF;

// Runs settings mode; returns once the dialog has been hidden.
void run(frmBase& base, frmSetDlg& settings);

// A live twip value as a scroll bar takes it: rounded to the nearest integer,
// halves to the even one, then brought into [minimum, maximum]. The window
// keeps its geometry in whole pixels, so a value applied at the top of the
// range can read back a few twips beyond it.
int capturedValue(double twips, int minimum, int maximum);

}  // namespace SettingsMode
