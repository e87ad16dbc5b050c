// WAV streamed from the file: samples are read at their byte offset and
// converted to the device format with an SDL audio stream (rate, channels,
// sample format), a block at a time.
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

class WavSource final : public PcmSource {
public:
    explicit WavSource(const SourceSpec& spec) : spec_(spec), offset_(spec.begin) {}
    ~WavSource() override {
        if (converter_) SDL_FreeAudioStream(converter_);
        if (fd_ >= 0) ::close(fd_);
    }

    bool open() {
        if (spec_.blockAlign <= 0 || spec_.rate <= 0 || spec_.channels <= 0) return false;
        fd_ = ::open(spec_.path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return false;
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);  // a larger read-ahead
        direct_ = spec_.formatTag == 1 && spec_.bitsPerSample == 16 && spec_.channels == device::Channels &&
                  spec_.rate == device::Rate && spec_.blockAlign == device::FrameBytes;
        if (direct_) return true;
        converter_ = SDL_NewAudioStream(sdlFormat(), Uint8(spec_.channels), spec_.rate, AUDIO_S16SYS, device::Channels,
                                        device::Rate);
        return converter_ != nullptr;
    }

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
        if (direct_) {
            offset_ = spec_.begin + frame * device::FrameBytes;
            position_ = frame;
            return true;
        }
        SDL_AudioStreamClear(converter_);
        if (spec_.rate == device::Rate) {
            // Same rate: conversion keeps no state between samples, so any
            // frame is an exact start.
            offset_ = spec_.begin + frame * spec_.blockAlign;
            position_ = frame;
            return true;
        }
        // Resampled: the filter needs what came before, so a near position
        // is reached exactly by converting from the start and dropping what
        // lies before it; a far one starts the filter afresh there.
        if (frame <= ExactSeekFrames) {
            offset_ = spec_.begin;
            position_ = 0;
            std::vector<int16_t> scratch(4096 * device::Channels);
            while (position_ < frame) {
                const long n = read(scratch.data(), long(std::min<int64_t>(4096, frame - position_)));
                if (n <= 0) return false;
            }
            return true;
        }
        const int64_t sourceFrame = frame * spec_.rate / device::Rate;
        offset_ = spec_.begin + sourceFrame * spec_.blockAlign;
        position_ = frame;
        return true;
    }

    int64_t frames() const override {
        const int64_t sourceFrames = (spec_.end - spec_.begin) / spec_.blockAlign;
        return spec_.rate == device::Rate ? sourceFrames : sourceFrames * device::Rate / spec_.rate;
    }
    bool framesExact() const override { return true; }

private:
    static constexpr int64_t ExactSeekFrames = 5 * device::Rate;
    static constexpr long BlockFrames = 4096;

    SDL_AudioFormat sdlFormat() const {
        switch (spec_.formatTag) {
        case 3: return AUDIO_F32LSB;  // 64-bit floats are narrowed first
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
            const int64_t blockBytes = BlockFrames * spec_.blockAlign;
            raw_.resize(size_t(blockBytes));
            const ssize_t got = readBytes(raw_.data(), blockBytes) / spec_.blockAlign * spec_.blockAlign;
            if (got <= 0) {
                // SDL's resampler keeps the last few milliseconds in its
                // filter even when flushed: push silence through behind them.
                const std::vector<uint8_t> padding(size_t(spec_.rate / 10 + 64) * 4 * size_t(spec_.channels), 0);
                SDL_AudioStreamPut(converter_, padding.data(), int(padding.size()));
                SDL_AudioStreamFlush(converter_);
                flushed_ = true;
                break;
            }
            const void* samples = widen(size_t(got));
            const int bytes = int(widened_.empty() ? got : widened_.size());
            if (SDL_AudioStreamPut(converter_, samples, bytes) != 0) {
                failed_ = true;
                SDL_AudioStreamFlush(converter_);
                flushed_ = true;
            }
        }
        const int got = SDL_AudioStreamGet(converter_, out, wanted);
        return got > 0 ? long(got / device::FrameBytes) : 0;
    }

    // Samples SDL cannot take as stored are widened into `widened_`; returns
    // what to hand to the converter (`widened_` left empty means `raw_`).
    const void* widen(size_t bytes) {
        widened_.clear();
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
    int fd_ = -1;
    bool direct_ = false;
    SDL_AudioStream* converter_ = nullptr;
    int64_t offset_;
    bool failed_ = false;
    bool flushed_ = false;
    std::vector<uint8_t> raw_, widened_;
};

}  // namespace

std::unique_ptr<PcmSource> openWavSource(const SourceSpec& spec) {
    auto source = std::make_unique<WavSource>(spec);
    if (!source->open()) return nullptr;
    return source;
}

}  // namespace mci
