#pragma once
// Opens a sound file for the media-command service. The decoder is chosen by
// the file's content, not its name or the command's device type: a RIFF/WAVE
// file is decoded as WAV, an MThd file as MIDI, an ID3 tag or MPEG frame sync
// as MP3; anything else is refused. So a WAV opened as "mpegvideo" or an MP3
// opened as "waveaudio" still plays, and a renamed text file never reaches a
// decoder that might guess.
#include <QString>

#include <memory>

namespace mci {

struct Sound;
class BackgroundDecoder;

struct LoadResult {
    std::shared_ptr<Sound> sound;  // set on success
    int error = 0;                 // 0 or an error number from MciErrors.h
};

// Needs the mixer device open (PCM is converted to its format).
LoadResult loadSound(const QString& path, BackgroundDecoder& decoder);

// Audio of an MP3 decoded while opening (2 s, about a millisecond's work); the
// rest is decoded in the background while the start plays.
constexpr size_t Mp3HeadBytes = 2 * 44100 * 4;
// Larger files are refused: their decoded audio would not fit sensibly in memory.
constexpr qint64 MaxPcmFileBytes = 256LL * 1024 * 1024;
constexpr qint64 MaxMidiFileBytes = 8LL * 1024 * 1024;

}  // namespace mci
