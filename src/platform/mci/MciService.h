#pragma once
// The media-command service: a small interpreter of media command strings
// ("open \"path\" type T alias A wait", "play A from 0 [wait]", "stop A",
// "close A") backed by SDL2_mixer (WAV, MP3) and FluidSynth (MIDI).
// Results are 0 or the Windows error numbers.
#include <QByteArray>

class MciService {
public:
    static MciService& instance();
    // Runs one command given in code page 932.
    int sendString(const QByteArray& command);
};
