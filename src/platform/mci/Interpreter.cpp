#include "platform/mci/Interpreter.h"

#include "platform/CodePage932.h"
#include "platform/FileSystem.h"
#include "platform/mci/MciErrors.h"
#include "platform/mci/Sound.h"
#include "platform/mci/SoundLoader.h"
#include "platform/mci/MidiVoice.h"
#include "platform/mci/Voice.h"

#include <QFileInfo>

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>

namespace mci {
namespace {

QString aliasKey(const QByteArray& alias) { return cp932::toUnicode(alias).toCaseFolded(); }

// Paths arrive as Windows writes them; on this system a backslash is an
// ordinary file-name character, so a path that does not exist as written is
// tried again with backslashes as separators. Some characters do not survive
// the trip through code page 932 (〜 comes back as ～), so a path that still
// names nothing is looked up by its code-page bytes.
QFileInfo resolvePath(const QByteArray& element) {
    const QString path = cp932::toUnicode(element);
    QFileInfo info(path);
    if (!info.exists() && path.contains(QLatin1Char('\\'))) info = QFileInfo(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
    if (!info.exists()) info = QFileInfo(resolveCodePagePath(info.filePath()));
    return info;
}

}  // namespace

Interpreter::Interpreter(const QString& soundfont) : pool_(soundfont) {}

Interpreter::~Interpreter() { shutdown(); }

int Interpreter::execute(const QByteArray& command) {
    const ParseResult parsed = parseCommand(command);
    if (const int* error = std::get_if<int>(&parsed)) return *error;
    return execute(std::get<Command>(parsed));
}

int Interpreter::execute(const Command& command) {
    switch (command.verb) {
    case Verb::Open: return open(command);
    case Verb::Play: return play(command);
    case Verb::Stop: return stop(command);
    case Verb::Close: return close(command);
    }
    return mcierr::UnrecognizedCommand;
}

void Interpreter::warmUp(const QByteArray& soundPath) {
    if (!deviceReady()) return;
    if (soundPath.isEmpty() || soundPath.contains('\0')) return;
    const QFileInfo file = resolvePath(soundPath);
    if (!file.isFile()) return;
    int error = 0;
    const std::shared_ptr<Sound> sound = cachedSound(file, &error);
    // Only a MIDI sound needs the soundfont; WAV and MP3 users never pay
    // for its memory.
    if (sound && sound->kind == Sound::Kind::Midi) pool_.prepare();
}

std::shared_ptr<Sound> Interpreter::cachedSound(const QFileInfo& file, int* error) {
    const std::optional<SoundCache::Key> cacheKey = SoundCache::keyFor(file.absoluteFilePath());
    if (!cacheKey) {
        *error = mcierr::FileNotFound;
        return nullptr;
    }
    if (std::shared_ptr<Sound> sound = cache_.find(*cacheKey)) return sound;
    LoadResult loaded = loadSound(cacheKey->path);
    if (loaded.error) {
        *error = loaded.error;
        return nullptr;
    }
    cache_.insert(*cacheKey, loaded.sound);
    return loaded.sound;
}

bool Interpreter::deviceReady() {
    if (!engine_.isOpen()) return engine_.open();
    if (engine_.isAlive()) return true;
    // Lost under us: every channel falls silent, and the aliases keep their
    // channels on the new device.
    return engine_.reopen();
}

void Interpreter::shutdown() {
    while (!devices_.empty()) closeDevice(devices_.begin());
    decoder_.stop();
    cache_.clear();
    pool_.clear();
    if (engine_.isOpen()) {
        engine_.close();
        Mix_Quit();
    } else {
        engine_.close();
    }
}

std::map<QString, Interpreter::Device>::iterator Interpreter::find(const QByteArray& alias) {
    return devices_.find(aliasKey(alias));
}

int Interpreter::open(const Command& command) {
    const QByteArray& alias = command.alias.isEmpty() ? command.device : command.alias;
    const QString key = aliasKey(alias);
    if (devices_.count(key)) return mcierr::DuplicateAlias;

    // A NUL cannot be part of a file name (the caller's strings end at one).
    if (command.device.contains('\0')) return mcierr::FileNotFound;
    const QFileInfo file = resolvePath(command.device);
    if (!file.exists()) return mcierr::FileNotFound;
    if (!file.isFile() || !file.isReadable()) return mcierr::InvalidFile;
    if (!deviceReady()) return mcierr::Hardware;

    int error = 0;
    const std::shared_ptr<Sound> sound = cachedSound(file, &error);
    if (!sound) return error;

    std::unique_ptr<Voice> voice;
    if (sound->kind == Sound::Kind::Midi) {
        voice = MidiVoice::create(sound, pool_);
        if (!voice) return mcierr::CannotLoadDriver;
    } else {
        voice = std::make_unique<PcmVoice>(sound, decoder_);
    }
    const int channel = engine_.allocateChannel();
    if (channel < 0) return mcierr::OutOfMemory;
    devices_[key] = Device{std::move(voice), channel};
    return 0;
}

int Interpreter::play(const Command& command) {
    const auto it = find(command.device);
    if (it == devices_.end()) return mcierr::InvalidDeviceName;
    Device& device = it->second;
    if (!deviceReady()) return mcierr::Hardware;
    halt(device);
    // Without "from" play goes on where it stopped, or starts over once the
    // sound has played to its end.
    const uint32_t startMs = command.fromMs ? *command.fromMs : device.voice->finished() ? 0 : device.positionMs;
    if (command.toMs && *command.toMs < startMs) return mcierr::OutOfRange;
    const int error = command.fromMs ? device.voice->seek(*command.fromMs) : device.voice->resume();
    if (error) return error;
    const int64_t frames = command.toMs ? int64_t(*command.toMs - startMs) * device::Rate / 1000 : -1;
    device.positionMs = startMs;
    device.started = true;
    engine_.start(device.channel, device.voice.get(), frames);
    if (command.wait) waitUntilDone(device);
    return 0;
}

void Interpreter::halt(Device& device) {
    engine_.halt(device.channel);
    if (device.started) device.positionMs += uint32_t(engine_.framesPlayed(device.channel) * 1000 / device::Rate);
    device.started = false;
}

void Interpreter::waitUntilDone(const Device& device) {
    // The voice says on the audio thread when it has rendered its last
    // sample; looking every millisecond returns well within a period (5.8 ms)
    // of that. The sound's length plays no part: a streamed sound may not
    // know it. A device that stops mixing ends the wait, so nothing hangs.
    while (engine_.isPlaying(device.channel, device.voice.get()) && engine_.isAlive()) SDL_Delay(1);
}

int Interpreter::stop(const Command& command) {
    const auto it = find(command.device);
    if (it == devices_.end()) return mcierr::InvalidDeviceName;
    halt(it->second);
    return 0;
}

int Interpreter::close(const Command& command) {
    if (command.device.compare("all", Qt::CaseInsensitive) == 0 && !devices_.count(aliasKey(command.device))) {
        while (!devices_.empty()) closeDevice(devices_.begin());
        return 0;
    }
    const auto it = find(command.device);
    if (it == devices_.end()) return mcierr::InvalidDeviceName;
    closeDevice(it);
    return 0;
}

void Interpreter::closeDevice(std::map<QString, Device>::iterator it) {
    // Halt first: the voice must be out of the audio thread's hands before it goes.
    engine_.freeChannel(it->second.channel);
    devices_.erase(it);
}

}  // namespace mci
