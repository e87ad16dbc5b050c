#pragma once
// Recently opened sounds, so that the close and open of every repeated press
// find the decoded audio ready. Keyed by absolute path, size and modification
// time: a file replaced on disk is decoded again. Bounded by entry count and
// by bytes; the least recently used entries go first. A sound that an alias
// still plays stays alive through the alias's own reference.
#include <QDateTime>
#include <QString>

#include <list>
#include <memory>

namespace mci {

struct Sound;

class SoundCache {
public:
    struct Key {
        QString path;
        qint64 size = 0;
        qint64 modifiedMs = 0;
        bool operator==(const Key&) const = default;
    };

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
