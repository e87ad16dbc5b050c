// WAV streamed from the file: samples are read at their byte offset and
// converted to the device format with an SDL audio stream (rate, channels,
// sample format), a block at a time. ADPCM is decoded here block by block
// (its blocks stand alone), so a long ADPCM file streams like PCM.
#include "platform/mci/PcmSource.h"

#include <SDL_audio.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

namespace mci {
namespace {

int16_t fromMuLaw(uint8_t byte) {
    byte = uint8_t(~byte);
    const int exponent = (byte >> 4) & 7;
    const int magnitude = ((((byte & 0x0F) << 3) + 0x84) << exponent) - 0x84;
    return int16_t(byte & 0x80 ? -magnitude : magnitude);
}

int16_t fromALaw(uint8_t byte) {
    byte ^= 0x55;
    const int exponent = (byte >> 4) & 7;
    int magnitude = (byte & 0x0F) << 4;
    magnitude = exponent == 0 ? magnitude + 8 : (magnitude + 0x108) << (exponent - 1);
    return int16_t(byte & 0x80 ? magnitude : -magnitude);
}

constexpr int8_t ImaIndexStep[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int16_t ImaStep[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int MsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

int16_t clamp16(int v) { return int16_t(std::clamp(v, -32768, 32767)); }
int16_t le16s(const uint8_t* p) { return int16_t(uint16_t(p[0] | p[1] << 8)); }

// One IMA ADPCM block: per channel a header (first sample, step index),
// then per channel in turn four bytes of eight nibbles, low nibble first.
int64_t decodeIma(const uint8_t* p, int64_t bytes, int channels, int16_t* out) {
    const int64_t frames = adpcmFrames(0x11, channels, bytes);
    if (frames == 0) return 0;
    int sample[8], index[8];
    for (int c = 0; c < channels; ++c) {
        sample[c] = le16s(p + 4 * c);
        index[c] = std::min<int>(p[4 * c + 2], 88);
        out[c] = int16_t(sample[c]);
    }
    const uint8_t* data = p + 4 * channels;
    for (int64_t group = 0; group < (frames - 1) / 8; ++group) {
        for (int c = 0; c < channels; ++c) {
            for (int i = 0; i < 8; ++i) {
                const int nibble = i % 2 ? data[i / 2] >> 4 : data[i / 2] & 0x0F;
                const int step = ImaStep[index[c]];
                int delta = step >> 3;
                if (nibble & 4) delta += step;
                if (nibble & 2) delta += step >> 1;
                if (nibble & 1) delta += step >> 2;
                sample[c] = clamp16(sample[c] + (nibble & 8 ? -delta : delta));
                index[c] = std::clamp(index[c] + ImaIndexStep[nibble], 0, 88);
                out[(1 + group * 8 + i) * channels + c] = int16_t(sample[c]);
            }
            data += 4;
        }
    }
    return frames;
}

// One MS ADPCM block: per channel a predictor index, a step and two
// samples (the later one first), then nibbles high first, the channels in
// turn. -1 when the block names a predictor the format does not have.
int64_t decodeMs(const uint8_t* p, int64_t bytes, const SourceSpec& spec, int16_t* out) {
    const int channels = spec.channels;
    const int64_t frames = adpcmFrames(2, channels, bytes);
    if (frames == 0) return 0;
    int coeff1[8], coeff2[8], delta[8];
    for (int c = 0; c < channels; ++c) {
        const size_t predictor = p[c];
        if (predictor * 2 + 1 >= spec.coefficients.size()) return -1;
        coeff1[c] = spec.coefficients[predictor * 2];
        coeff2[c] = spec.coefficients[predictor * 2 + 1];
        delta[c] = uint16_t(p[channels + 2 * c] | p[channels + 2 * c + 1] << 8);
        out[channels + c] = le16s(p + 3 * channels + 2 * c);
        out[c] = le16s(p + 5 * channels + 2 * c);
    }
    const uint8_t* data = p + 7 * channels;
    for (int64_t n = 0; n < (frames - 2) * channels; ++n) {
        const int c = int(n % channels);
        const int64_t at = 2 * channels + n;
        const int nibble = n % 2 ? data[n / 2] & 0x0F : data[n / 2] >> 4;
        const int predicted = (out[at - channels] * coeff1[c] + out[at - 2 * channels] * coeff2[c]) / 256;
        out[at] = clamp16(predicted + delta[c] * (nibble >= 8 ? nibble - 16 : nibble));
        delta[c] = std::clamp(delta[c] * MsAdapt[nibble] / 256, 16, 65535);
    }
    return frames;
}

class WavSource final : public PcmSource {
public:
    explicit WavSource(const SourceSpec& spec)
        : spec_(spec), adpcm_(spec.formatTag == 2 || spec.formatTag == 0x11), offset_(spec.begin) {}
    ~WavSource() override {
        if (converter_) SDL_FreeAudioStream(converter_);
        if (fd_ >= 0) ::close(fd_);
    }

    bool open() {
        if (spec_.blockAlign <= 0 || spec_.rate <= 0 || spec_.channels <= 0 || spec_.samplesPerBlock <= 0) return false;
        fd_ = openSoundFile(spec_.path);
        if (fd_ < 0 || changed()) return false;
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);  // a larger read-ahead
        direct_ = spec_.formatTag == 1 && spec_.bitsPerSample == 16 && spec_.channels == device::Channels &&
                  spec_.rate == device::Rate && spec_.blockAlign == device::FrameBytes;
        if (direct_) return true;
        converter_ = SDL_NewAudioStream(sdlFormat(), Uint8(spec_.channels), spec_.rate, AUDIO_S16SYS, device::Channels,
                                        device::Rate);
        return converter_ != nullptr;
    }

    bool changed() const override { return FileStamp::of(fd_) != spec_.stamp; }

    long read(int16_t* out, long frames) override {
        // The converter's tail is padded out with silence (see below); the
        // length from the header says where the audio ends.
        if (!direct_) frames = long(std::min<int64_t>(frames, std::max<int64_t>(0, this->frames() - position_)));
        if (frames <= 0) return failed_ ? -1 : 0;
        long done = direct_ ? readDirect(out, frames) : readConverted(out, frames);
        if (done > 0) {
            position_ += done;
            return done;
        }
        return failed_ ? -1 : 0;
    }

    bool seek(int64_t frame) override {
        frame = std::clamp<int64_t>(frame, 0, frames());
        failed_ = false;
        flushed_ = false;
        skip_ = 0;
        if (direct_) {
            offset_ = spec_.begin + frame * device::FrameBytes;
            position_ = frame;
            return true;
        }
        SDL_AudioStreamClear(converter_);
        // Same rate: conversion keeps no state between samples, so any
        // frame is an exact start. Resampled: the filter needs what came
        // before, so a near position is reached exactly by converting from
        // the start and dropping what lies before it; a far one starts the
        // filter afresh there.
        if (spec_.rate != device::Rate && frame <= ExactSeekFrames) {
            offset_ = spec_.begin;
            position_ = 0;
            std::vector<int16_t> scratch(4096 * device::Channels);
            while (position_ < frame) {
                const long n = read(scratch.data(), long(std::min<int64_t>(4096, frame - position_)));
                if (n <= 0) return false;
            }
            return true;
        }
        const int64_t sourceFrame = spec_.rate == device::Rate ? frame : frame * spec_.rate / device::Rate;
        // An ADPCM block decodes only from its start: begin at the block
        // and drop the frames before the one asked for.
        offset_ = spec_.begin + sourceFrame / spec_.samplesPerBlock * spec_.blockAlign;
        skip_ = sourceFrame % spec_.samplesPerBlock;
        position_ = frame;
        return true;
    }

    int64_t frames() const override {
        const int64_t bytes = spec_.end - spec_.begin;
        int64_t sourceFrames = bytes / spec_.blockAlign * spec_.samplesPerBlock;
        if (adpcm_) sourceFrames += adpcmFrames(spec_.formatTag, spec_.channels, bytes % spec_.blockAlign);
        return spec_.rate == device::Rate ? sourceFrames : sourceFrames * device::Rate / spec_.rate;
    }
    bool framesExact() const override { return true; }

private:
    static constexpr int64_t ExactSeekFrames = 5 * device::Rate;
    static constexpr long ReadFrames = 4096;

    SDL_AudioFormat sdlFormat() const {
        switch (spec_.formatTag) {
        case 3: return AUDIO_F32LSB;  // 64-bit floats are narrowed first
        case 2:
        case 0x11: return AUDIO_S16SYS;  // ADPCM is decoded first
        case 6:
        case 7: return AUDIO_S16LSB;  // expanded from the 8-bit code first
        default: break;
        }
        switch (spec_.bitsPerSample) {
        case 8:  // widened to 16-bit first, like the 8-bit codes
        case 16: return AUDIO_S16LSB;
        default: return AUDIO_S32LSB;  // 24-bit is widened first
        }
    }

    // Reads up to `bytes` at the current offset; short at the end of the
    // audio. A file that ends before its header says marks the source failed.
    ssize_t readBytes(void* into, int64_t bytes) {
        bytes = std::min(bytes, spec_.end - offset_);
        int64_t got = 0;
        while (got < bytes) {
            const ssize_t n = ::pread(fd_, static_cast<char*>(into) + got, size_t(bytes - got), off_t(offset_ + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                failed_ = true;
                break;
            }
            got += n;
        }
        offset_ += got;
        return ssize_t(got);
    }

    long readDirect(int16_t* out, long frames) {
        const ssize_t got = readBytes(out, int64_t(frames) * device::FrameBytes);
        return long(got / device::FrameBytes);
    }

    long readConverted(int16_t* out, long frames) {
        const int wanted = int(frames * device::FrameBytes);
        while (SDL_AudioStreamAvailable(converter_) < wanted && !flushed_) {
            // Whole sample frames, or whole ADPCM blocks (the last one of
            // the file may be short).
            const int64_t blocks = std::max<int64_t>(1, ReadFrames / spec_.samplesPerBlock);
            raw_.resize(size_t(blocks * spec_.blockAlign));
            ssize_t got = readBytes(raw_.data(), int64_t(raw_.size()));
            if (!adpcm_) got = got / spec_.blockAlign * spec_.blockAlign;
            const void* samples = got > 0 ? widen(size_t(got)) : nullptr;
            if (!samples) {
                // SDL's resampler keeps the last few milliseconds in its
                // filter even when flushed: push silence through behind them.
                const std::vector<uint8_t> padding(size_t(spec_.rate / 10 + 64) * 4 * size_t(spec_.channels), 0);
                SDL_AudioStreamPut(converter_, padding.data(), int(padding.size()));
                SDL_AudioStreamFlush(converter_);
                flushed_ = true;
                break;
            }
            const int bytes = int(adpcm_ || !widened_.empty() ? widened_.size() : size_t(got));
            if (bytes > 0 && SDL_AudioStreamPut(converter_, samples, bytes) != 0) {
                failed_ = true;
                SDL_AudioStreamFlush(converter_);
                flushed_ = true;
            }
        }
        const int got = SDL_AudioStreamGet(converter_, out, wanted);
        return got > 0 ? long(got / device::FrameBytes) : 0;
    }

    // ADPCM blocks decoded into `widened_`, less the frames a seek skips.
    // Null when a block is corrupt.
    const void* decodeAdpcm(size_t bytes) {
        const int channels = spec_.channels;
        widened_.resize(size_t(bytes / size_t(spec_.blockAlign) + 1) * size_t(spec_.samplesPerBlock * channels) * 2);
        auto* out = reinterpret_cast<int16_t*>(widened_.data());
        int64_t frames = 0;
        for (size_t at = 0; at < bytes; at += size_t(spec_.blockAlign)) {
            const int64_t length = std::min<int64_t>(spec_.blockAlign, int64_t(bytes - at));
            const uint8_t* block = raw_.data() + at;
            int16_t* into = out + frames * channels;
            const int64_t n = spec_.formatTag == 0x11 ? decodeIma(block, length, channels, into)
                                                      : decodeMs(block, length, spec_, into);
            if (n < 0) {
                failed_ = true;
                return nullptr;
            }
            frames += n;
        }
        const int64_t skipped = std::min(skip_, frames);
        skip_ -= skipped;
        std::memmove(out, out + skipped * channels, size_t((frames - skipped) * channels) * 2);
        widened_.resize(size_t((frames - skipped) * channels) * 2);
        return widened_.data();
    }

    // Samples SDL cannot take as stored are widened into `widened_`; returns
    // what to hand to the converter (`widened_` left empty means `raw_`).
    const void* widen(size_t bytes) {
        widened_.clear();
        if (adpcm_) return decodeAdpcm(bytes);
        const auto* in = raw_.data();
        if (spec_.formatTag == 6 || spec_.formatTag == 7 || spec_.bitsPerSample == 8) {
            widened_.resize(bytes * 2);
            for (size_t i = 0; i < bytes; ++i) {
                const int16_t v = spec_.formatTag == 7   ? fromMuLaw(in[i])
                                  : spec_.formatTag == 6 ? fromALaw(in[i])
                                                         : int16_t((in[i] - 128) * 256);
                const uint8_t le[2] = {uint8_t(v), uint8_t(uint16_t(v) >> 8)};
                std::memcpy(widened_.data() + i * 2, le, 2);
            }
        } else if (spec_.formatTag == 3 && spec_.bitsPerSample == 64) {
            widened_.resize(bytes / 2);
            for (size_t i = 0; i < bytes / 8; ++i) {
                double d;
                std::memcpy(&d, in + i * 8, 8);
                const float f = std::isfinite(d) ? float(std::clamp(d, -1.0, 1.0)) : 0.0f;
                std::memcpy(widened_.data() + i * 4, &f, 4);
            }
        } else if (spec_.formatTag == 1 && spec_.bitsPerSample == 24) {
            widened_.resize(bytes / 3 * 4);
            for (size_t i = 0; i < bytes / 3; ++i) {
                const uint32_t v = uint32_t(in[i * 3]) << 8 | uint32_t(in[i * 3 + 1]) << 16 | uint32_t(in[i * 3 + 2]) << 24;
                const uint8_t le[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
                std::memcpy(widened_.data() + i * 4, le, 4);
            }
        } else {
            return raw_.data();
        }
        return widened_.data();
    }

    SourceSpec spec_;
    const bool adpcm_;
    int fd_ = -1;
    bool direct_ = false;
    SDL_AudioStream* converter_ = nullptr;
    int64_t offset_;
    bool failed_ = false;
    bool flushed_ = false;
    int64_t skip_ = 0;  // decoded frames still to drop after a seek into an ADPCM block
    std::vector<uint8_t> raw_, widened_;
};

}  // namespace

int64_t adpcmFrames(int formatTag, int channels, int64_t bytes) {
    // The header's samples, then whole groups of nibbles.
    if (formatTag == 0x11) return bytes < 4 * channels ? 0 : 1 + (bytes - 4 * channels) / (4 * channels) * 8;
    return bytes < 7 * channels ? 0 : 2 + (bytes - 7 * channels) * 2 / channels;
}

std::unique_ptr<PcmSource> openWavSource(const SourceSpec& spec) {
    auto source = std::make_unique<WavSource>(spec);
    if (!source->open()) return nullptr;
    return source;
}

}  // namespace mci
