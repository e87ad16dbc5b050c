#include "platform/mci/SoundCache.h"

#include "platform/mci/Sound.h"

namespace mci {

std::shared_ptr<Sound> SoundCache::find(const Key& key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            entries_.splice(entries_.begin(), entries_, it);
            return entries_.front().sound;
        }
    }
    return nullptr;
}

void SoundCache::insert(const Key& key, std::shared_ptr<Sound> sound) {
    entries_.remove_if([&](const Entry& e) { return e.key == key; });
    entries_.push_front({key, std::move(sound)});
    trim();
}

void SoundCache::trim() {
    // Sizes grow while the background decoder works, so they are summed anew.
    size_t bytes = 0;
    for (const Entry& e : entries_) bytes += e.sound->bytes();
    while (entries_.size() > 1 && (entries_.size() > maxEntries_ || bytes > maxBytes_)) {
        bytes -= std::min(bytes, entries_.back().sound->bytes());
        entries_.pop_back();
    }
}

}  // namespace mci
