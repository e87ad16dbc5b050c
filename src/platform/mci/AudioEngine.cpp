#include "platform/mci/AudioEngine.h"

#include "platform/mci/Sound.h"
#include "platform/mci/Voice.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace mci {
namespace {

// The looped buffer of silence that carries every voice (one period long).
Uint8 silence[device::PeriodFrames * device::FrameBytes] = {};
Mix_Chunk silenceChunk = {0, silence, sizeof silence, MIX_MAX_VOLUME};

constexpr int InitialChannels = 16;

void SDLCALL renderVoice(int, void* stream, int len, void* data) {
    auto* slot = static_cast<AudioEngine::Slot*>(data);
    int64_t frames = len / device::FrameBytes;
    const int64_t left = slot->left.load(std::memory_order_relaxed);
    if (left >= 0) frames = std::min(frames, left);
    if (frames == 0) return;
    slot->voice->render(static_cast<Uint8*>(stream), int(frames) * device::FrameBytes);
    slot->played.fetch_add(frames, std::memory_order_relaxed);
    if (left >= 0) slot->left.store(left - frames, std::memory_order_release);
}

// Runs after every mixed period, whether anything plays or not.
void SDLCALL markPeriod(int, void*, int, void* lastPeriodMs) {
    static_cast<std::atomic<int64_t>*>(lastPeriodMs)->store(int64_t(SDL_GetTicks64()) + 1, std::memory_order_relaxed);
}

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints its failures to stderr (eight lines for every attempt on a
// machine without a sound card); a missing device reaches the caller as an
// error number instead. SDL loads the library itself, so its handler is set
// through the same shared library, kept loaded.
void quietAlsa() {
    static const bool done = [] {
        void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!alsa) return true;
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        using SetHandler = int (*)(Handler);
        if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler")))
            set(ignoreAlsaError);
        return true;
    }();
    (void)done;
}

// SDL_mixer keeps the id of the device it opened to itself; it is the one
// open output device of the program, so it is the one that is playing.
uint32_t findOpenDevice() {
    for (SDL_AudioDeviceID id = 1; id <= 64; ++id)
        if (SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_PLAYING) return id;
    return 0;
}

}  // namespace

int bufferFrames(const char* driver) {
    // A sound server (PulseAudio, PipeWire) buffers on top of ours and starves
    // at 256 frames on a busy machine (78 underruns in 5 s measured, against
    // 11 at 512); 512 frames still keeps key-to-audible near 15 ms there.
    const bool server = driver && (std::strcmp(driver, "pulseaudio") == 0 || std::strcmp(driver, "pipewire") == 0);
    return server ? 2 * device::PeriodFrames : device::PeriodFrames;
}

bool AudioEngine::open() {
    if (open_) return true;
    quietAlsa();
    if (!sdlAudio_) {
        // SDL would otherwise turn SIGINT and SIGTERM into quit events that
        // nobody reads, and the program could no longer be ended by a signal
        // (a logout, `kill`) once it had played a sound.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        sdlAudio_ = true;
    }
    // A fixed format: SDL converts if the hardware differs, and every decoded
    // sound can be stored in this one format.
    if (Mix_OpenAudioDevice(device::Rate, AUDIO_S16SYS, device::Channels, bufferFrames(SDL_GetCurrentAudioDriver()),
                            nullptr, 0) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        sdlAudio_ = false;
        return false;
    }
    deviceId_ = findOpenDevice();
    lastPeriodMs_.store(0);
    Mix_RegisterEffect(MIX_CHANNEL_POST, markPeriod, nullptr, &lastPeriodMs_);
    channelCount_ = Mix_AllocateChannels(std::max(InitialChannels, int(used_.size())));
    used_.resize(size_t(channelCount_), false);
    open_ = true;
    return true;
}

void AudioEngine::close() {
    if (open_) {
        Mix_HaltChannel(-1);
        for (int channel = 0; channel < channelCount_; ++channel) Mix_UnregisterAllEffects(channel);
        Mix_UnregisterAllEffects(MIX_CHANNEL_POST);
        Mix_CloseAudio();
        open_ = false;
        deviceId_ = 0;
        channelCount_ = 0;
    }
    if (sdlAudio_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        sdlAudio_ = false;
    }
}

bool AudioEngine::reopen() {
    close();
    return open();
}

AudioEngine::State AudioEngine::state() const {
    if (!open_) return State::Closed;
    if (deviceId_ && SDL_GetAudioDeviceStatus(deviceId_) != SDL_AUDIO_PLAYING) return State::Lost;
    // A device that has not asked for its first period yet has not started,
    // which is not lost: a sound server can take seconds to begin pulling
    // from a new stream.
    const int64_t last = lastPeriodMs_.load(std::memory_order_relaxed);
    return last == 0 || int64_t(SDL_GetTicks64()) + 1 - last < StallMs ? State::Alive : State::Stalled;
}

int AudioEngine::allocateChannel() {
    if (!open_) return -1;
    for (int channel = 0; channel < channelCount_; ++channel) {
        if (!used_[size_t(channel)]) {
            used_[size_t(channel)] = true;
            return channel;
        }
    }
    if (channelCount_ >= MaxChannels) return -1;
    const int grown = Mix_AllocateChannels(std::min(channelCount_ * 2, MaxChannels));
    if (grown <= channelCount_) return -1;
    channelCount_ = grown;
    used_.resize(size_t(channelCount_), false);
    return allocateChannel();
}

void AudioEngine::freeChannel(int channel) {
    if (channel < 0 || size_t(channel) >= used_.size()) return;
    halt(channel);
    used_[size_t(channel)] = false;
}

AudioEngine::Slot& AudioEngine::slot(int channel) {
    if (slots_.size() <= size_t(channel)) slots_.resize(size_t(channel) + 1);
    if (!slots_[size_t(channel)]) slots_[size_t(channel)] = std::make_unique<Slot>();
    return *slots_[size_t(channel)];
}

void AudioEngine::start(int channel, Voice* voice, int64_t frames) {
    halt(channel);
    Slot& s = slot(channel);
    s.voice = voice;
    s.left.store(frames);
    s.played.store(0);
    Mix_RegisterEffect(channel, renderVoice, nullptr, &s);
    Mix_PlayChannel(channel, &silenceChunk, -1);
}

void AudioEngine::halt(int channel) {
    if (!open_) return;
    Mix_HaltChannel(channel);
    Mix_UnregisterAllEffects(channel);
}

bool AudioEngine::isPlaying(int channel, const Voice* voice) const {
    if (!open_ || !Mix_Playing(channel) || voice->finished()) return false;
    return size_t(channel) >= slots_.size() || !slots_[size_t(channel)] || slots_[size_t(channel)]->left.load(std::memory_order_acquire) != 0;
}

int64_t AudioEngine::framesPlayed(int channel) const {
    if (size_t(channel) >= slots_.size() || !slots_[size_t(channel)]) return 0;
    return slots_[size_t(channel)]->played.load();
}

}  // namespace mci
