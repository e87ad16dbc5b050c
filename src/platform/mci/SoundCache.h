#pragma once
// Recently opened sounds, so that the close and open of every repeated press
// find the sound ready: MIDI bytes, or a PCM sound's decoded head and its
// open file. Keyed by the file's identity and every time stamp that changes
// with its content (absolute path, device, inode, size, modification and
// status-change time to the nanosecond): a file replaced on disk, even by
// one of the same size with its old modification time put back, is opened
// again. Bounded by entry count and by bytes; the least recently used
// entries go first. A sound that an alias still plays stays alive through
// the alias's own reference.
#include <QString>

#include <cstdint>
#include <list>
#include <memory>
#include <optional>

namespace mci {

struct Sound;

class SoundCache {
public:
    struct Key {
        QString path;
        uint64_t device = 0, inode = 0;
        int64_t size = 0;
        int64_t modifiedNs = 0, changedNs = 0;
        bool operator==(const Key&) const = default;
    };
    // The key of the file at `absolutePath` as it is now; none when it
    // cannot be examined.
    static std::optional<Key> keyFor(const QString& absolutePath);

    SoundCache(size_t maxEntries, size_t maxBytes) : maxEntries_(maxEntries), maxBytes_(maxBytes) {}

    std::shared_ptr<Sound> find(const Key& key);
    void insert(const Key& key, std::shared_ptr<Sound> sound);
    void clear() { entries_.clear(); }
    size_t size() const { return entries_.size(); }

private:
    struct Entry {
        Key key;
        std::shared_ptr<Sound> sound;
    };
    void trim();

    size_t maxEntries_;
    size_t maxBytes_;
    std::list<Entry> entries_;  // most recently used first
};

}  // namespace mci
