#include "platform/mci/Voice.h"

#include "platform/mci/BackgroundDecoder.h"
#include "platform/mci/MciErrors.h"
#include "platform/mci/PcmStream.h"
#include "platform/mci/Sound.h"

#include <algorithm>
#include <cstring>

namespace mci {

PcmVoice::PcmVoice(std::shared_ptr<Sound> sound, BackgroundDecoder& reader)
    : Voice(std::move(sound)), reader_(reader), position_(sound_->startFrame) {
    reported_.store(position_);
}

PcmVoice::~PcmVoice() {
    if (stream_) stream_->cancel();
}

void PcmVoice::render(Uint8* bytes, int len) {
    if (finished_.load(std::memory_order_relaxed)) return;
    auto* out = reinterpret_cast<int16_t*>(bytes);
    const long frames = len / device::FrameBytes;
    long done = 0;
    const Sound& sound = *sound_;
    if (position_ < sound.headFrames) {
        done = long(std::min<int64_t>(frames, sound.headFrames - position_));
        std::memcpy(out, sound.head.data() + position_ * device::Channels, size_t(done) * device::FrameBytes);
        // Nothing will follow the head (the file is gone): fade its end
        // instead of cutting it off.
        if (stream_ && stream_->failedEmpty()) fadeHeadEnd(out, position_, done);
        position_ += done;
    }
    if (done < frames) {
        if (!stream_) {
            finished_.store(true, std::memory_order_release);
        } else {
            if (prerolling_ && (stream_->buffered() >= PrerollFrames || stream_->ended())) prerolling_ = false;
            const long n = prerolling_ ? 0 : stream_->read(out + done * device::Channels, frames - done);
            position_ += n;
            done += n;
            if (done < frames) {
                if (stream_->drained() || (starved_ += frames - done) > StallFrames)
                    finished_.store(true, std::memory_order_release);
                else
                    prerolling_ = true;
            } else {
                starved_ = 0;
            }
        }
    }
    std::memset(out + done * device::Channels, 0, size_t(frames - done) * device::FrameBytes);
    reported_.store(position_, std::memory_order_release);
}

void PcmVoice::fadeHeadEnd(int16_t* out, int64_t from, long frames) const {
    const int64_t fadeStart = sound_->headFrames - PcmStream::FadeFrames;
    for (long i = std::max<long>(0, long(fadeStart - from)); i < frames; ++i) {
        const int64_t left = sound_->headFrames - 1 - (from + i);
        for (int c = 0; c < device::Channels; ++c)
            out[i * device::Channels + c] = int16_t(out[i * device::Channels + c] * left / PcmStream::FadeFrames);
    }
}

void PcmVoice::startStream() {
    if (stream_) stream_->cancel();
    stream_.reset();
    starved_ = 0;
    finished_.store(false);
    reported_.store(position_);
    if (sound_->wholeInHead) return;
    // Behind the head the ring starts empty: let it fill a little first.
    prerolling_ = position_ >= sound_->headFrames;
    // The head plays from memory; the stream picks up where it ends.
    stream_ = std::make_shared<PcmStream>(sound_, std::max(position_, sound_->headFrames));
    reader_.add(stream_);
}

int PcmVoice::seek(uint32_t ms) {
    const int64_t frame = sound_->startFrame + int64_t(ms) * device::Rate / 1000;
    if (frame > sound_->frames.load(std::memory_order_acquire)) return mcierr::OutOfRange;
    position_ = frame;
    startStream();
    return 0;
}

int PcmVoice::resume() {
    // At the end, play starts over; after a stop it carries on with the
    // stream it had, whose ring holds what comes next.
    if (finished_.load() || !stream_ || position_ < sound_->startFrame) {
        if (finished_.load() || position_ < sound_->startFrame) position_ = sound_->startFrame;
        startStream();
    }
    finished_.store(false);
    return 0;
}

}  // namespace mci
