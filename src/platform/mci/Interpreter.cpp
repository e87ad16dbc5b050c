#include "platform/mci/Interpreter.h"

#include "platform/CodePage932.h"
#include "platform/mci/MciErrors.h"
#include "platform/mci/Sound.h"
#include "platform/mci/SoundLoader.h"
#include "platform/mci/MidiVoice.h"
#include "platform/mci/Voice.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>

namespace mci {
namespace {

QString aliasKey(const QByteArray& alias) { return cp932::toUnicode(alias).toCaseFolded(); }

// Paths arrive as Windows writes them; on this system a backslash is an
// ordinary file-name character, so a path that does not exist as written is
// tried again with backslashes as separators.
QFileInfo resolvePath(const QByteArray& element) {
    const QString path = cp932::toUnicode(element);
    QFileInfo info(path);
    if (!info.exists() && path.contains(QLatin1Char('\\'))) info = QFileInfo(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
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

void Interpreter::warmUp() {
    if (warmedUp_) return;
    warmedUp_ = true;
    if (engine_.open()) pool_.prepare();
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
    warmedUp_ = false;
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
    if (!engine_.open()) return mcierr::Hardware;

    const std::optional<SoundCache::Key> cacheKey = SoundCache::keyFor(file.absoluteFilePath());
    if (!cacheKey) return mcierr::FileNotFound;
    std::shared_ptr<Sound> sound = cache_.find(*cacheKey);
    if (!sound) {
        LoadResult loaded = loadSound(cacheKey->path);
        if (loaded.error) return loaded.error;
        sound = loaded.sound;
        cache_.insert(*cacheKey, sound);
    }

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
    engine_.halt(device.channel);
    const int error = command.fromMs ? device.voice->seek(*command.fromMs) : device.voice->resume();
    if (error) return error;
    engine_.start(device.channel, device.voice.get());
    if (command.wait) waitUntilDone(device, command.fromMs.value_or(0));
    return 0;
}

void Interpreter::waitUntilDone(const Device& device, uint32_t fromMs) {
    QElapsedTimer clock;
    clock.start();
    const Sound& sound = *device.voice->sound();
    while (engine_.isPlaying(device.channel, device.voice.get())) {
        // The length can still grow while a long MP3 decodes; the limit
        // follows it, and a decode in progress always finishes.
        const double remaining = std::max(0.0, sound.seconds() - fromMs / 1000.0);
        const qint64 limit = qint64(remaining * 1000) + WaitMarginMs;
        if (sound.isComplete() && clock.elapsed() > limit) break;
        SDL_Delay(2);
    }
}

int Interpreter::stop(const Command& command) {
    const auto it = find(command.device);
    if (it == devices_.end()) return mcierr::InvalidDeviceName;
    engine_.halt(it->second.channel);
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
