#include "platform/mci/PcmStream.h"

#include "platform/mci/PcmSource.h"

#include <algorithm>
#include <cstring>

namespace mci {
namespace {
constexpr uint64_t Mask = uint64_t(PcmStream::RingFrames - 1);
constexpr long TurnFrames = device::Rate / 10;
constexpr long ReadFrames = 8192;
}  // namespace

PcmStream::PcmStream(std::shared_ptr<Sound> sound, int64_t startFrame)
    : sound_(std::move(sound)), ring_(new int16_t[size_t(RingFrames) * device::Channels]), next_(startFrame) {}

PcmStream::~PcmStream() = default;

long PcmStream::read(int16_t* out, long frames) {
    const uint64_t w = written_.load(std::memory_order_acquire);
    const uint64_t r = read_.load(std::memory_order_relaxed);
    const long n = long(std::min<uint64_t>(w - r, uint64_t(frames)));
    const size_t at = size_t(r & Mask);
    const size_t first = std::min<size_t>(size_t(n), size_t(RingFrames) - at);
    std::memcpy(out, ring_.get() + at * device::Channels, first * device::FrameBytes);
    std::memcpy(out + first * device::Channels, ring_.get(), (size_t(n) - first) * device::FrameBytes);
    read_.store(r + uint64_t(n), std::memory_order_release);
    return n;
}

bool PcmStream::drained() const {
    if (!ended_.load(std::memory_order_acquire)) return false;
    return read_.load(std::memory_order_relaxed) == written_.load(std::memory_order_acquire);
}

int64_t PcmStream::buffered() const {
    return int64_t(written_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed));
}

int64_t PcmStream::freeFrames() const {
    return RingFrames - int64_t(written_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire));
}

PcmStream::Turn PcmStream::fill() {
    if (ended_.load(std::memory_order_relaxed)) return Turn::Done;
    if (cancelled_.load(std::memory_order_acquire)) {
        finish(false);
        return Turn::Done;
    }
    if (!source_) {
        source_ = sound_->takeSpare();
        if (!source_) source_ = openSource(sound_->spec);
        if (!source_) {
            finish(true);
            return Turn::Done;
        }
    }
    if (source_->position() != next_ && !source_->seek(next_)) {
        finish(true);
        return Turn::Done;
    }
    long done = 0;
    while (done < TurnFrames) {
        const int64_t free = freeFrames();
        if (free < 1024) break;
        const uint64_t w = written_.load(std::memory_order_relaxed);
        const size_t at = size_t(w & Mask);
        const long chunk = long(std::min<int64_t>({free, RingFrames - int64_t(at), ReadFrames}));
        int16_t* into = ring_.get() + at * device::Channels;
        const long n = source_->read(into, chunk);
        // Written over while it plays: what was just read may already be
        // the new content, so it is dropped and the sound fades out.
        if (source_->changed()) {
            finish(true);
            return Turn::Done;
        }
        if (n <= 0) {
            if (n == 0) {
                // The real end: from now on the length is exact.
                sound_->frames.store(next_, std::memory_order_release);
                sound_->complete.store(true, std::memory_order_release);
            }
            finish(n < 0);
            return Turn::Done;
        }
        std::copy_n(into + (n - 1) * device::Channels, device::Channels, last_);
        next_ += n;
        done += n;
        written_.store(w + uint64_t(n), std::memory_order_release);
    }
    if (done == 0 && !sound_->isComplete() && source_->measure()) {
        // The ring is full, so there is time to go through the file once
        // for its exact length (an MP3's first guess can be seconds off).
        sound_->frames.store(source_->frames(), std::memory_order_release);
        sound_->complete.store(true, std::memory_order_release);
        return Turn::Worked;
    }
    return done > 0 ? Turn::Worked : Turn::Idle;
}

void PcmStream::finish(bool failed) {
    if (failed) {
        source_.reset();
        failed_.store(true, std::memory_order_release);
        // Fade from the last frame written, if there is room for the ramp.
        const uint64_t w = written_.load(std::memory_order_relaxed);
        if (w > 0 && freeFrames() >= FadeFrames) {
            for (int i = 0; i < FadeFrames; ++i) {
                int16_t* frame = ring_.get() + size_t((w + uint64_t(i)) & Mask) * device::Channels;
                for (int c = 0; c < device::Channels; ++c) frame[c] = int16_t(last_[c] * (FadeFrames - 1 - i) / FadeFrames);
            }
            written_.store(w + FadeFrames, std::memory_order_release);
        }
    } else if (source_) {
        // Still sound: the next stream of this sound carries on with it.
        sound_->keepSpare(std::move(source_));
    }
    ended_.store(true, std::memory_order_release);
}

}  // namespace mci
