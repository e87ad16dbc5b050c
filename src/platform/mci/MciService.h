#pragma once
// The media-command service: a small interpreter of media command strings
// ("open \"path\" type T alias A wait", "play A from 0 [wait]", "stop A",
// "close A") backed by SDL2_mixer (WAV, MP3) and FluidSynth (MIDI).
// Results are 0 or the Windows error numbers (MciErrors.h). Never throws.
// Callable from any thread; commands run one at a time.
#include <QByteArray>
#include <QString>

#include <memory>
#include <mutex>

namespace mci {
class Interpreter;
}

class MciService {
public:
    static MciService& instance();
    ~MciService();

    // Runs one command given in code page 932.
    int sendString(const QByteArray& command);

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
    std::mutex mutex_;
    std::unique_ptr<mci::Interpreter> interpreter_;
};
