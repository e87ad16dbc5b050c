#include "platform/mci/BackgroundDecoder.h"

#include "platform/mci/Sound.h"

namespace mci {

BackgroundDecoder::~BackgroundDecoder() { stop(); }

void BackgroundDecoder::submit(std::shared_ptr<Sound> sound, QByteArray bytes) {
    std::lock_guard lock(mutex_);
    if (stopping_) {
        sound->complete.store(true, std::memory_order_release);
        return;
    }
    jobs_.push_back({std::move(sound), std::move(bytes)});
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    wake_.notify_one();
}

void BackgroundDecoder::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (Job& job : jobs_) job.sound->complete.store(true, std::memory_order_release);
        jobs_.clear();
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    stopping_ = false;  // a later open may start it again
}

void BackgroundDecoder::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        SDL_RWops* rw = SDL_RWFromConstMem(job.bytes.constData(), int(job.bytes.size()));
        Mix_Chunk* chunk = rw ? Mix_LoadWAV_RW(rw, 1) : nullptr;
        if (chunk) job.sound->full.store(chunk, std::memory_order_release);
        job.sound->complete.store(true, std::memory_order_release);
    }
}

}  // namespace mci
