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

// The file a path names as written, or with its backslashes as separators
// (paths arrive as Windows writes them; here a backslash is an ordinary
// file-name character). Not found: the path as written.
QFileInfo findAsWritten(const QString& path) {
    const QFileInfo info(path);
    if (info.exists() || !path.contains(QLatin1Char('\\'))) return info;
    const QFileInfo separated(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
    return separated.exists() ? separated : info;
}

// The file an open names. The exact name comes first when the command came
// as text: code page 932 cannot tell b〜.wav from b～.wav and has no café at
// all. Failing that the code-page bytes are read back, and when that names
// nothing either (〜 comes back as ～), the file on disk with the same
// code-page bytes is looked for.
QFileInfo resolvePath(const QByteArray& element, const QString& exact = {}) {
    if (!exact.isEmpty())
        if (const QFileInfo info = findAsWritten(exact); info.exists()) return info;
    const QFileInfo info = findAsWritten(cp932::toUnicode(element));
    return info.exists() ? info : QFileInfo(resolveCodePagePath(info.filePath()));
}

}  // namespace

Interpreter::Interpreter(const QString& soundfont) : pool_(soundfont) {}

Interpreter::~Interpreter() { shutdown(); }

int Interpreter::execute(const QByteArray& command) {
    const ParseResult parsed = parseCommand(command);
    if (const int* error = std::get_if<int>(&parsed)) return *error;
    return execute(std::get<Command>(parsed));
}

int Interpreter::executeText(const QString& text) {
    ParseResult parsed = parseCommand(cp932::fromUnicode(text));
    if (const int* error = std::get_if<int>(&parsed)) return *error;
    Command& command = std::get<Command>(parsed);
    // UTF-8 splits into the same words: its multi-byte characters hold no
    // quote or blank, just as code page 932's do not.
    if (command.verb == Verb::Open) {
        const ParseResult exact = parseCommand(text.toUtf8());
        if (const Command* written = std::get_if<Command>(&exact)) command.element = QString::fromUtf8(written->device);
    }
    return execute(command);
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

void Interpreter::warmUp(const QString& soundPath) {
    // The warm-up has a thread of its own: it may wait for a stalled device.
    if (stalled_ || engine_.state() == AudioEngine::State::Stalled) reopenDevice();
    if (!deviceReady()) return;
    if (soundPath.isEmpty() || soundPath.contains(QChar(0))) return;
    const QFileInfo file = resolvePath(cp932::fromUnicode(soundPath), soundPath);
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
    switch (engine_.state()) {
    case AudioEngine::State::Closed: return engine_.open();
    case AudioEngine::State::Alive: return true;
    // Lost under us: every channel falls silent, and the aliases keep their
    // channels on the new device.
    case AudioEngine::State::Lost: return engine_.reopen();
    case AudioEngine::State::Stalled: break;
    }
    stalled_ = true;
    return false;
}

void Interpreter::reopenDevice() {
    stalled_ = false;
    engine_.reopen();
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
    const QFileInfo file = resolvePath(command.device, command.element);
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
