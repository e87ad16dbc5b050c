#pragma once
// The reader thread: decodes every playing PCM stream from its file into the
// stream's ring buffer, a turn at a time, so long sounds play from disk with
// a fixed footprint and the audio thread never touches the disk. The list of
// streams is the only thing behind the lock, and the lock is never held
// while a file is read, so a caller adding a stream never waits for a disk.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mci {

class PcmStream;

class BackgroundDecoder {
public:
    BackgroundDecoder() = default;
    ~BackgroundDecoder();
    BackgroundDecoder(const BackgroundDecoder&) = delete;
    BackgroundDecoder& operator=(const BackgroundDecoder&) = delete;

    // Starts decoding `stream` (starting the thread if needed).
    void add(std::shared_ptr<PcmStream> stream);
    // Ends the thread and drops every stream (a stream dropped unfinished
    // just stops being filled). Safe to call more than once; a later add
    // starts the thread again.
    void stop();

    // How long the thread sleeps when every ring is full: the rings hold
    // far more than this, so they never run dry because of it.
    static constexpr int IdleMs = 10;

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::shared_ptr<PcmStream>> incoming_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace mci
