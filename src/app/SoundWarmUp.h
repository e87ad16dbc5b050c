#pragma once
// The first press of a sound must be as fast as any later one, so the audio
// device is opened and the chosen sound got ready before it comes (its
// opening decoded; for MIDI, the soundfont loaded): on a thread of its own,
// so neither start-up nor the window waits for it. No media command is sent;
// a press that comes while it still runs waits for it, and a failure is left
// for the press to meet.
#include <QString>

class QLineEdit;

// Warms up `soundPath` (may be empty: the device only) on the next turn of
// the event loop, after whatever is being shown has been handled.
void warmUpSoundInBackground(const QString& soundPath);

// Warms up the sound named in `soundBox` now, and again whenever the name
// changes: at once when it is set whole (a data file opened, a file chosen
// in the settings), once it has stayed the same for a moment while typed.
void keepSoundWarm(QLineEdit* soundBox);
