#include "platform/mci/AudioEngine.h"

#include "platform/mci/Sound.h"
#include "platform/mci/Voice.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>

namespace mci {
namespace {

// The looped buffer of silence that carries every voice (one period long).
Uint8 silence[device::PeriodFrames * device::FrameBytes] = {};
Mix_Chunk silenceChunk = {0, silence, sizeof silence, MIX_MAX_VOLUME};

void SDLCALL renderVoice(int, void* stream, int len, void* voice) {
    static_cast<Voice*>(voice)->render(static_cast<Uint8*>(stream), len);
}

}  // namespace

bool AudioEngine::open() {
    if (open_) return true;
    if (!sdlAudio_) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        sdlAudio_ = true;
    }
    // A fixed format: SDL converts if the hardware differs, and every decoded
    // sound can be stored in this one format.
    if (Mix_OpenAudioDevice(device::Rate, AUDIO_S16SYS, device::Channels, device::PeriodFrames, nullptr, 0) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        sdlAudio_ = false;
        return false;
    }
    channelCount_ = Mix_AllocateChannels(16);
    used_.assign(size_t(channelCount_), false);
    open_ = true;
    return true;
}

void AudioEngine::close() {
    if (open_) {
        Mix_HaltChannel(-1);
        for (int channel = 0; channel < channelCount_; ++channel) Mix_UnregisterAllEffects(channel);
        Mix_CloseAudio();
        open_ = false;
        used_.clear();
        channelCount_ = 0;
    }
    if (sdlAudio_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        sdlAudio_ = false;
    }
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
    if (channel < 0 || channel >= channelCount_) return;
    halt(channel);
    used_[size_t(channel)] = false;
}

void AudioEngine::start(int channel, Voice* voice) {
    halt(channel);
    Mix_RegisterEffect(channel, renderVoice, nullptr, voice);
    Mix_PlayChannel(channel, &silenceChunk, -1);
}

void AudioEngine::halt(int channel) {
    Mix_HaltChannel(channel);
    Mix_UnregisterAllEffects(channel);
}

bool AudioEngine::isPlaying(int channel, const Voice* voice) const {
    return open_ && Mix_Playing(channel) && !voice->finished();
}

}  // namespace mci
