#pragma once
// Opens a sound file for the media-command service. The decoder is chosen by
// the file's content, not its name or the command's device type: a RIFF/WAVE
// file is a WAV (or an MP3 when its format tag says so), an MThd file is
// MIDI, and a file whose MPEG audio frames start at its beginning, after an
// ID3v2 tag of any size or after some leading junk is an MP3; anything else
// is refused. So a WAV opened as "mpegvideo" or an MP3 opened as "waveaudio"
// still plays, and a renamed text file never reaches a decoder that might
// guess.
//
// For PCM only the head (HeadFrames) is decoded here; the rest streams from
// the file while it plays. The source left after the head is kept on the
// sound for the first stream.
#include <QString>

#include <memory>

namespace mci {

struct Sound;

struct LoadResult {
    std::shared_ptr<Sound> sound;  // set on success
    int error = 0;                 // 0 or an error number from MciErrors.h
};

LoadResult loadSound(const QString& path);

constexpr qint64 MaxMidiFileBytes = 8LL * 1024 * 1024;
// WAV codecs that cannot be streamed (ADPCM and the like) are decoded whole
// by SDL; their files are short sound effects, and this bounds the memory.
constexpr qint64 MaxWholeWavFileBytes = 8LL * 1024 * 1024;
// How far into a file leading junk before the first MPEG frame is searched.
constexpr qint64 Mp3SyncSearchBytes = 256 * 1024;

}  // namespace mci
