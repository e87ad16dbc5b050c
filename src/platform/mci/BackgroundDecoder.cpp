#include "platform/mci/BackgroundDecoder.h"

#include "platform/mci/Mp3Stream.h"
#include "platform/mci/Sound.h"

namespace mci {

BackgroundDecoder::~BackgroundDecoder() { stop(); }

void BackgroundDecoder::finish(Job& job) {
    job.sound->complete.store(true, std::memory_order_release);
    job.stream.reset();
}

void BackgroundDecoder::submit(std::shared_ptr<Sound> sound, std::unique_ptr<Mp3Stream> stream) {
    std::lock_guard lock(mutex_);
    jobs_.push_back({std::move(sound), std::move(stream)});
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    wake_.notify_one();
}

void BackgroundDecoder::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    for (Job& job : jobs_) finish(job);
    jobs_.clear();
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
        // Nobody else holds the sound any more (closed and dropped from the
        // cache): decoding the rest would only keep its memory alive.
        if (job.sound.use_count() == 1) {
            finish(job);
            continue;
        }
        const size_t target = job.sound->available.load(std::memory_order_relaxed) + StepBytes;
        if (!job.stream->decode(*job.sound, target)) {
            finish(job);
            continue;
        }
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
}

}  // namespace mci
