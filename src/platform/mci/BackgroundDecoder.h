#pragma once
// Decodes the rest of long MP3 files on one worker thread, so that opening
// them only pays for their first seconds. Files being decoded take turns a
// second of audio at a time, so a long file cannot hold up a newer one.
#include "platform/mci/Mp3Stream.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace mci {

struct Sound;

class BackgroundDecoder {
public:
    BackgroundDecoder() = default;
    ~BackgroundDecoder();
    BackgroundDecoder(const BackgroundDecoder&) = delete;
    BackgroundDecoder& operator=(const BackgroundDecoder&) = delete;

    // Decodes the rest of `stream` into `sound`, then marks it complete.
    void submit(std::shared_ptr<Sound> sound, std::unique_ptr<Mp3Stream> stream);
    // Ends the thread; sounds not fully decoded are marked complete as they
    // are (they play what they have). Safe to call more than once.
    void stop();

    // Audio decoded per turn.
    static constexpr size_t StepBytes = 44100 * 4;

private:
    struct Job {
        std::shared_ptr<Sound> sound;
        std::unique_ptr<Mp3Stream> stream;
    };
    void run();
    static void finish(Job& job);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace mci
