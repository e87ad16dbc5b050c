#pragma once
// A PCM sound's file decoded step by step into the device format. Sources
// are used by one thread at a time: the loader while it decodes a head, then
// the background reader. The audio thread never sees one.
#include "platform/mci/Sound.h"

#include <cstdint>
#include <memory>

namespace mci {

class PcmSource {
public:
    virtual ~PcmSource() = default;
    PcmSource(const PcmSource&) = delete;
    PcmSource& operator=(const PcmSource&) = delete;

    // Decodes up to `frames` device frames into `out`: the number written, 0
    // at the end of the audio, -1 when the file cannot be read or decoded
    // any more (vanished, truncated, corrupt).
    virtual long read(int16_t* out, long frames) = 0;
    // Positions at a device frame of the decoded audio. False on failure.
    virtual bool seek(int64_t frame) = 0;
    // The device frame the next read starts at.
    int64_t position() const { return position_; }
    // The length in device frames, and whether it is exact (an MP3 without
    // a frame count in its header gives an estimate).
    virtual int64_t frames() const = 0;
    virtual bool framesExact() const = 0;
    // Makes frames() exact by going through the whole file (for MP3, every
    // frame header, which also completes the seek index), keeping the
    // position. False when that fails. Slow for a long file: only the reader
    // thread calls it, while its ring is full.
    virtual bool measure() { return framesExact(); }
    // The file's content changed since the sound was opened (written over
    // in place, cut short): what it holds now is not this sound any more.
    virtual bool changed() const = 0;

protected:
    PcmSource() = default;
    int64_t position_ = 0;
};

// Frames in an ADPCM block of `bytes` (formatTag 2: MS, 0x11: IMA); the
// last block of a file may be short.
int64_t adpcmFrames(int formatTag, int channels, int64_t bytes);

// Opens the file a SourceSpec describes; null when it cannot be opened or
// does not hold what the SourceSpec says.
std::unique_ptr<PcmSource> openWavSource(const SourceSpec& spec);
std::unique_ptr<PcmSource> openMp3Source(const SourceSpec& spec);
inline std::unique_ptr<PcmSource> openSource(const SourceSpec& spec) {
    return spec.codec == SourceSpec::Codec::Wav ? openWavSource(spec) : openMp3Source(spec);
}

}  // namespace mci
