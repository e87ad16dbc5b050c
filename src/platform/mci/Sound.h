#pragma once
// One opened sound file, shared by the cache and every alias playing it.
//
// PCM (WAV, MP3) is never held whole. Only its head, the first half second
// in the mixer's device format, stays decoded here, so a press mixes at once;
// the rest streams from the file while it plays (PcmStream). `frames` is the
// length in device frames: exact for WAV from its header, an estimate for an
// MP3 until a stream has decoded it to its end. `complete` says the length is
// final.
//
// A source left positioned by the last stream (or by the loader, right after
// the head) is kept as `spare`, so the next stream of this sound carries on
// with an open file and, for MP3, the decoder's seek index.
//
// MIDI is kept as the file's events; FluidSynth renders them while it plays.
#include <QByteArray>

#include <SDL_stdinc.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace mci {

// The device format every PCM sound is converted to.
namespace device {
constexpr int Rate = 44100;
constexpr int Channels = 2;
constexpr int FrameBytes = 4;        // 16-bit stereo
constexpr int PeriodFrames = 256;    // a small buffer: the press must sound at once
}

class PcmSource;
struct MidiSong;

// Opens a sound file for reading: only an ordinary file, and without waiting
// (a FIFO named as a sound would block the open until a writer came, and a
// device such as /dev/zero would be read for ever). -1 for anything else.
int openSoundFile(const QByteArray& path);

// What changes when a file's content is written: its size and modification
// time. A file rewritten in place while it streams would otherwise play on
// as whatever its new bytes decode to. (Not the status-change time: that
// also moves when the file is renamed or deleted, which leaves the open
// file as it was.)
struct FileStamp {
    int64_t size = -1, modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
    // The stamp of an open file now; size -1 when it cannot be examined.
    static FileStamp of(int fd);
};

// Where a PCM sound's samples are in its file, enough to open it again.
struct SourceSpec {
    enum class Codec { Wav, Mp3 };
    Codec codec = Codec::Wav;
    QByteArray path;                 // local 8-bit file name
    FileStamp stamp;                 // the file as it was when its head was decoded
    int64_t begin = 0, end = 0;      // the encoded audio's bytes in the file
    // WAV only: the stored sample format.
    int formatTag = 1;               // 1 integer PCM, 2 MS ADPCM, 3 float, 6 A-law, 7 mu-law, 0x11 IMA ADPCM
    int channels = 0, rate = 0, bitsPerSample = 0, blockAlign = 0;
    // ADPCM: frames in each block of blockAlign bytes, and MS ADPCM's
    // predictor coefficient pairs from the format chunk.
    int samplesPerBlock = 1;
    std::vector<int16_t> coefficients;
};

struct Sound {
    enum class Kind { Pcm, Midi };

    explicit Sound(Kind k);
    ~Sound();
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    bool isComplete() const { return complete.load(std::memory_order_acquire); }
    // Length in seconds from where play starts (for PCM, the best known).
    double seconds() const;
    // Memory held, in bytes.
    size_t bytes() const;

    const Kind kind;

    // PCM. The head is written once, before the sound is shared.
    SourceSpec spec;
    std::vector<int16_t> head;       // interleaved device-format frames
    int64_t headFrames = 0;
    // The whole sound fits in the head: no stream is needed.
    bool wholeInHead = false;
    // Where play from 0 starts: an MP3 decoder's leading digital silence is
    // skipped, so the press is heard a few milliseconds sooner.
    int64_t startFrame = 0;
    std::atomic<int64_t> frames{0};
    std::atomic<bool> complete{false};

    // Reader thread and loader only.
    std::unique_ptr<PcmSource> takeSpare();
    void keepSpare(std::unique_ptr<PcmSource> source);

    // MIDI: the file's events, read at open.
    std::shared_ptr<const MidiSong> song;
    double midiSeconds = 0;

private:
    std::mutex spareMutex_;
    std::unique_ptr<PcmSource> spare_;
};

// Device frames in the head kept decoded for every PCM sound.
constexpr int64_t HeadFrames = device::Rate / 2;

}  // namespace mci
