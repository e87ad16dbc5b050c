#pragma once
// Sound channels through the media-command service. A channel's device alias
// is the executable's base name followed by the channel name ("Zumble1P1").
#include <QString>

#include <cstdint>

// Plays `path` on `channel`, restarting it from the beginning. With wait the
// call returns when the sound has finished, then pauses `pause` ms. Missing
// files and unsupported extensions are skipped silently; only a path the
// existence test cannot take raises an error.
void PlayMciSound(const QString& path, const QString& channel, bool wait, int16_t pause);

// Closes the program's channels (P1 and P2) at exit.
void CloseMciSounds();

// One channel of a quiz table: stopped at a reset, closed at exit.
void StopMciSound(const QString& channel);
void CloseMciSound(const QString& channel);
