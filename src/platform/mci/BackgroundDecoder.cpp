#include "platform/mci/BackgroundDecoder.h"

#include "platform/mci/PcmStream.h"

#include <chrono>

namespace mci {

BackgroundDecoder::~BackgroundDecoder() { stop(); }

void BackgroundDecoder::add(std::shared_ptr<PcmStream> stream) {
    std::lock_guard lock(mutex_);
    incoming_.push_back(std::move(stream));
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
    incoming_.clear();
    stopping_ = false;
}

void BackgroundDecoder::run() {
    std::vector<std::shared_ptr<PcmStream>> streams;
    bool worked = true;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (!worked)
                wake_.wait_for(lock, std::chrono::milliseconds(IdleMs), [this] { return stopping_ || !incoming_.empty(); });
            if (stopping_) break;
            for (auto& stream : incoming_) streams.push_back(std::move(stream));
            incoming_.clear();
        }
        // Cancelled streams go first, handing their open file back to their
        // sound for the next stream (a repeated press cancels one stream
        // and starts another of the same sound). Then newest first: a fresh
        // press needs its first frames before the head it is playing runs
        // out, older streams have a full ring.
        for (auto& stream : streams)
            if (stream->cancelled() && stream->fill() == PcmStream::Turn::Done) stream.reset();
        std::erase(streams, nullptr);
        worked = false;
        for (auto it = streams.rbegin(); it != streams.rend(); ++it) {
            const PcmStream::Turn turn = (*it)->fill();
            if (turn == PcmStream::Turn::Worked) worked = true;
            if (turn == PcmStream::Turn::Done) it->reset();
        }
        std::erase(streams, nullptr);
    }
    streams.clear();
}

}  // namespace mci
