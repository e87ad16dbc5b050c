#include "platform/mci/Sound.h"

#include "platform/mci/MidiFile.h"
#include "platform/mci/PcmSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace mci {

int openSoundFile(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

FileStamp FileStamp::of(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return {};
    return {int64_t(st.st_size), int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

Sound::Sound(Kind k) : kind(k) {}
Sound::~Sound() = default;

double Sound::seconds() const {
    if (kind == Kind::Midi) return midiSeconds;
    const int64_t total = frames.load(std::memory_order_acquire);
    return double(total - std::min(total, startFrame)) / device::Rate;
}

size_t Sound::bytes() const {
    return kind == Kind::Midi ? (song ? song->bytes() : 0) : head.capacity() * sizeof(int16_t);
}

std::unique_ptr<PcmSource> Sound::takeSpare() {
    std::lock_guard lock(spareMutex_);
    return std::move(spare_);
}

void Sound::keepSpare(std::unique_ptr<PcmSource> source) {
    std::unique_ptr<PcmSource> old;
    std::lock_guard lock(spareMutex_);
    old = std::move(spare_);
    spare_ = std::move(source);
}

}  // namespace mci
