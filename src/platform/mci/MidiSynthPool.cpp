#include "platform/mci/MidiSynthPool.h"

#include "platform/mci/Sound.h"

#include <QFile>

#include <fluidsynth.h>

#include <cstdio>

namespace mci {

std::atomic<long> MidiSynthPool::reads_{0};

// The soundfont's file calls: plain stdio, with every read counted.
struct SoundfontFile {
    static void* open(const char* name) { return std::fopen(name, "rb"); }
    static int read(void* buffer, fluid_long_long_t count, void* handle) {
        MidiSynthPool::reads_.fetch_add(1, std::memory_order_relaxed);
        return std::fread(buffer, 1, size_t(count), static_cast<FILE*>(handle)) == size_t(count) ? FLUID_OK : FLUID_FAILED;
    }
    static int seek(void* handle, fluid_long_long_t offset, int origin) {
        return std::fseek(static_cast<FILE*>(handle), long(offset), origin) == 0 ? FLUID_OK : FLUID_FAILED;
    }
    static fluid_long_long_t tell(void* handle) { return std::ftell(static_cast<FILE*>(handle)); }
    static int close(void* handle) { return std::fclose(static_cast<FILE*>(handle)) == 0 ? FLUID_OK : FLUID_FAILED; }
};

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
        // A press sound needs few voices.
        fluid_settings_setint(settings_, "synth.polyphony", 64);
        fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 0);
    }
    if (!QFile::exists(soundfont_)) {
        soundfontMissing_ = true;
        return nullptr;
    }
    fluid_synth_t* synth = new_fluid_synth(settings_);
    if (!synth) return nullptr;
    if (fluid_sfloader_t* loader = new_fluid_defsfloader(settings_)) {
        fluid_sfloader_set_callbacks(loader, SoundfontFile::open, SoundfontFile::read, SoundfontFile::seek,
                                     SoundfontFile::tell, SoundfontFile::close);
        fluid_synth_add_sfloader(synth, loader);  // tried before the built-in one; the synth owns it
    }
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
