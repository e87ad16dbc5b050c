#pragma once
#include <QString>

// Application-wide state shared by the data-file commands and the exit sequence.
namespace AppState {
// Set by a completed Save As and never cleared during the run.
inline bool IsSaved = false;
// The name last chosen in the Open or Save As dialog.
inline QString CurrentFileName;
}
