#pragma once
// One playing stretch of a PCM sound: the background reader decodes the file
// from `startFrame` into a ring buffer, the audio thread takes frames out.
// The ring has one writer (the reader thread) and one reader (the audio
// thread) and no lock; its size is fixed, so a stream holds the same memory
// whatever the length of the file.
//
// A stream is shared between the voice that plays it and the reader; the
// voice cancels it when it seeks, stops for good or closes, and whichever
// side lets go last frees it. The voice never waits for the reader.
#include "platform/mci/Sound.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace mci {

class PcmSource;

class PcmStream {
public:
    PcmStream(std::shared_ptr<Sound> sound, int64_t startFrame);
    ~PcmStream();
    PcmStream(const PcmStream&) = delete;
    PcmStream& operator=(const PcmStream&) = delete;

    // Audio thread: copies up to `frames` decoded frames; fewer when the
    // reader is behind or the audio has ended.
    long read(int16_t* out, long frames);
    // True once the audio has ended (or the file failed) and every frame
    // was read.
    bool drained() const;
    // Frames decoded and not yet read, and whether no more will come.
    int64_t buffered() const;
    bool ended() const { return ended_.load(std::memory_order_acquire); }

    // Reader thread: decodes into the free part of the ring, at most about
    // a tenth of a second per turn so other streams get theirs.
    enum class Turn { Worked, Idle, Done };
    Turn fill();

    void cancel() { cancelled_.store(true, std::memory_order_release); }
    bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }
    // The file could not be read to its end (vanished, truncated, corrupt).
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    // Failed before a single frame came: the file could not be opened again.
    bool failedEmpty() const { return failed() && written_.load(std::memory_order_acquire) == 0; }

    // About 3 s of audio (512 KB): enough to ride out a slow or busy disk
    // for a while.
    static constexpr int64_t RingFrames = 1 << 17;
    // Ramp to silence written after the last frame of a file that failed,
    // so it fades instead of clicking.
    static constexpr int FadeFrames = device::Rate / 200;

private:
    void finish(bool failed);
    int64_t freeFrames() const;

    std::shared_ptr<Sound> sound_;
    std::unique_ptr<int16_t[]> ring_;
    std::atomic<uint64_t> written_{0}, read_{0};
    std::atomic<bool> ended_{false}, failed_{false}, cancelled_{false};

    // Reader thread only.
    std::unique_ptr<PcmSource> source_;
    int64_t next_;  // device frame the next decoded frame belongs to
    int16_t last_[device::Channels] = {};
};

}  // namespace mci
