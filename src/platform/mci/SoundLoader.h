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
// Only an ordinary file is opened; anything else (a FIFO, a device) is an
// invalid file.
//
// For WAV (every codec) and MP3 only the head (HeadFrames) is decoded here; the rest streams from
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
// How far into a file leading junk before the first MPEG frame is searched.
constexpr qint64 Mp3SyncSearchBytes = 16LL * 1024 * 1024;

}  // namespace mci
