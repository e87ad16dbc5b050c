#pragma once
// Carries out parsed media commands on the audio engine: the alias table,
// the sound cache, the MIDI synthesisers and the background decoder. Not
// thread-safe by itself; MciService serialises the calls.
#include "platform/mci/AudioEngine.h"
#include "platform/mci/BackgroundDecoder.h"
#include "platform/mci/MciCommand.h"
#include "platform/mci/MidiSynthPool.h"
#include "platform/mci/SoundCache.h"

#include <QFileInfo>
#include <QString>

#include <map>
#include <memory>

namespace mci {

class Voice;
struct Sound;

class Interpreter {
public:
    explicit Interpreter(const QString& soundfont);
    // The General MIDI soundfont of Debian's timgm6mb-soundfont package.
    static constexpr const char* DefaultSoundfontPath = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    ~Interpreter();
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    int execute(const QByteArray& command);
    int execute(const Command& command);
    // A command as text: parsed in code page 932, with the element of an
    // open kept as written, so the exact file is found.
    int executeText(const QString& command);

    // Opens the device and gets the sound at `soundPath` (may be empty)
    // ready for its first press: its opening decoded, or for MIDI the
    // soundfont loaded. Errors are left for the press to report.
    void warmUp(const QString& soundPath = {});
    void shutdown();
    // The device stopped mixing: a command found it so and failed. Reopening
    // it can wait long for the stuck device, so the caller does that on a
    // thread of its own with reopenDevice().
    bool deviceStalled() const { return stalled_; }
    void reopenDevice();
    size_t openAliases() const { return devices_.size(); }

    // Sounds kept for repeated presses. A quiz switches between a few sounds;
    // each WAV or MP3 keeps only its decoded opening (the rest streams from
    // its file) and a MIDI file its events (8 bytes each), so the byte bound
    // is reached only by MIDI files of megabytes; the most recent sound is
    // kept whatever its size.
    static constexpr size_t CacheEntries = 8;
    static constexpr size_t CacheBytes = 16u * 1024 * 1024;

private:
    struct Device {
        std::unique_ptr<Voice> voice;
        int channel = -1;
        uint32_t positionMs = 0;  // where the last play started, until it is halted
        bool started = false;
    };

    int open(const Command& command);
    int play(const Command& command);
    int stop(const Command& command);
    int close(const Command& command);
    // Halts the device's channel and moves its position on by what it played.
    void halt(Device& device);
    void closeDevice(std::map<QString, Device>::iterator it);
    // Opens the device, or reopens one SDL has given up; false without one,
    // or while it is stalled.
    bool deviceReady();
    void waitUntilDone(const Device& device);
    // The sound from the cache, loaded into it on a miss; null with *error set.
    std::shared_ptr<Sound> cachedSound(const QFileInfo& file, int* error);
    std::map<QString, Device>::iterator find(const QByteArray& alias);

    BackgroundDecoder decoder_;
    MidiSynthPool pool_;
    AudioEngine engine_;
    SoundCache cache_{CacheEntries, CacheBytes};
    std::map<QString, Device> devices_;  // by case-folded alias
    bool stalled_ = false;
};

}  // namespace mci
