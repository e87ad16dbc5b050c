#pragma once
// Decodes the rest of long compressed sounds on one worker thread, so that
// opening them only pays for their first seconds.
#include <QByteArray>

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

    // Decodes `bytes` whole into sound->full, then sets sound->complete (also
    // when the decode fails: the head is then all there is).
    void submit(std::shared_ptr<Sound> sound, QByteArray bytes);
    // Waits for the job in hand, drops the queued ones (marking them
    // complete) and ends the thread. Safe to call more than once.
    void stop();

private:
    struct Job {
        std::shared_ptr<Sound> sound;
        QByteArray bytes;
    };
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace mci
