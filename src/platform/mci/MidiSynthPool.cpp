#include "platform/mci/MidiSynthPool.h"

#include "platform/mci/Sound.h"

#include <QFile>

#include <fluidsynth.h>

namespace mci {

fluid_synth_t* MidiSynthPool::create() {
    if (soundfontMissing_) return nullptr;
    if (!settings_) {
        // FluidSynth logs to stderr by default; failures reach the caller as
        // error numbers instead.
        for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level) fluid_set_log_function(level, nullptr, nullptr);
        settings_ = new_fluid_settings();
        if (!settings_) return nullptr;
        fluid_settings_setnum(settings_, "synth.sample-rate", device::Rate);
        fluid_settings_setnum(settings_, "synth.gain", Gain);
        fluid_settings_setint(settings_, "synth.cpu-cores", 1);
        // A press sound needs few voices, and only the samples of the
        // instruments it plays: the rest of the soundfont stays on disk.
        fluid_settings_setint(settings_, "synth.polyphony", 64);
        fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
        // The player advances with the samples we render, on the audio thread,
        // instead of running a timer thread of its own.
        fluid_settings_setstr(settings_, "player.timing-source", "sample");
    }
    if (!QFile::exists(soundfont_)) {
        soundfontMissing_ = true;
        return nullptr;
    }
    fluid_synth_t* synth = new_fluid_synth(settings_);
    if (!synth) return nullptr;
    if (fluid_synth_sfload(synth, QFile::encodeName(soundfont_).constData(), 1) == FLUID_FAILED) {
        delete_fluid_synth(synth);
        soundfontMissing_ = true;
        return nullptr;
    }
    return synth;
}

fluid_synth_t* MidiSynthPool::acquire() {
    if (!free_.empty()) {
        fluid_synth_t* synth = free_.back();
        free_.pop_back();
        return synth;
    }
    return create();
}

void MidiSynthPool::release(fluid_synth_t* synth) {
    if (!synth) return;
    fluid_synth_system_reset(synth);
    free_.push_back(synth);
}

bool MidiSynthPool::prepare() {
    if (!free_.empty()) return true;
    fluid_synth_t* synth = create();
    if (!synth) return false;
    free_.push_back(synth);
    return true;
}

void MidiSynthPool::clear() {
    for (fluid_synth_t* synth : free_) delete_fluid_synth(synth);
    free_.clear();
    if (settings_) delete_fluid_settings(settings_);
    settings_ = nullptr;
    soundfontMissing_ = false;
}

}  // namespace mci
