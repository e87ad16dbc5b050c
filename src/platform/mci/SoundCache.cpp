#include "platform/mci/SoundCache.h"

#include "platform/mci/Sound.h"

#include <QFile>

#include <sys/stat.h>

namespace mci {

std::optional<SoundCache::Key> SoundCache::keyFor(const QString& absolutePath) {
    struct stat st {};
    if (::stat(QFile::encodeName(absolutePath).constData(), &st) != 0) return std::nullopt;
    const auto ns = [](const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; };
    return Key{absolutePath, uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), ns(st.st_mtim), ns(st.st_ctim)};
}

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
    size_t bytes = 0;
    for (const Entry& e : entries_) bytes += e.sound->bytes();
    while (entries_.size() > 1 && (entries_.size() > maxEntries_ || bytes > maxBytes_)) {
        bytes -= std::min(bytes, entries_.back().sound->bytes());
        entries_.pop_back();
    }
}

}  // namespace mci
