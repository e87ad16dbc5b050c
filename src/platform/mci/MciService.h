#pragma once
// The media-command service: a small interpreter of media command strings
// ("open \"path\" type T alias A wait", "play A from 0 [wait]", "stop A",
// "close A") backed by SDL2_mixer (WAV, MP3) and FluidSynth (MIDI).
// Results are 0 or the Windows error numbers (MciErrors.h). Never throws.
// Callable from any thread; commands run one at a time.
//
// A device that stops mixing is reopened on a thread of the service's own:
// closing it waits for its audio thread, which can hang in its driver for
// seconds, and no command may keep the caller (the UI thread) waiting for
// that. Commands sent meanwhile fail at once with the hardware error.
#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace mci {
class Interpreter;
}

class MciService {
public:
    static MciService& instance();
    ~MciService();

    // Runs one command given in code page 932.
    int sendString(const QByteArray& command);
    // Runs one command given as text: read in code page 932, but a file to
    // open is looked for first by its exact name.
    int sendText(const QString& command);

    // Opens the audio device and gets the sound at `soundPath` ready, so
    // that its first press does not pay for them: a WAV or MP3 has its
    // opening decoded, and a MIDI file has the soundfont loaded (only then:
    // it is the largest thing the program holds). Cheap when already done;
    // failures are left for the first open to report.
    void warmUp(const QString& soundPath = QString());
    // Closes every alias and the audio device. Safe to call when nothing was
    // opened, and the service can be used again afterwards.
    void shutdown();

    // The General MIDI soundfont used for MIDI files (tests point this
    // elsewhere to check what happens without one). Takes effect for
    // synthesisers made after the next shutdown().
    void setSoundfont(const QString& path);

    static QString defaultSoundfont();

private:
    MciService();
    template <typename Command> int run(const Command& command);
    // Joins the thread of the last reopen; under the lock, once it has ended.
    void joinReopen();
    // The lock, once no reopen runs.
    std::unique_lock<std::mutex> lockedAfterReopen();

    std::mutex mutex_;
    std::unique_ptr<mci::Interpreter> interpreter_;
    std::atomic<bool> reopening_{false};
    std::thread reopen_;
};
