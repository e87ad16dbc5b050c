#include "platform/mci/Mp3Stream.h"

#include "platform/mci/Sound.h"

#define MPG123_NO_LARGENAME
#include <mpg123.h>

#include <sys/types.h>

#include <algorithm>
#include <cstring>

static_assert(sizeof(off_t) == 8, "the unsuffixed libmpg123 entry points take a 64-bit off_t");

namespace mci {
namespace {

// mpg123_init is needed once per process before the first handle.
bool initialised() {
    static const bool ok = mpg123_init() == MPG123_OK;
    return ok;
}

// The file's bytes as a seekable stream for mpg123's reader hooks.
struct Memory {
    QByteArray bytes;
    qint64 position = 0;
};

ssize_t readMemory(void* handle, void* buffer, size_t size) {
    auto* m = static_cast<Memory*>(handle);
    const size_t n = std::min(size, size_t(m->bytes.size() - m->position));
    std::memcpy(buffer, m->bytes.constData() + m->position, n);
    m->position += qint64(n);
    return ssize_t(n);
}

off_t seekMemory(void* handle, off_t offset, int whence) {
    auto* m = static_cast<Memory*>(handle);
    const qint64 base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->position : m->bytes.size();
    const qint64 target = base + offset;
    if (target < 0 || target > m->bytes.size()) return -1;
    m->position = target;
    return off_t(target);
}

}  // namespace

struct Mp3Stream::Handle {
    Memory memory;
    mpg123_handle* mh = nullptr;
    ~Handle() {
        if (mh) {
            mpg123_close(mh);
            mpg123_delete(mh);
        }
    }
};

std::unique_ptr<Mp3Stream> Mp3Stream::open(QByteArray bytes, Sound& sound) {
    if (!initialised()) return nullptr;
    std::unique_ptr<Mp3Stream> stream(new Mp3Stream);
    stream->handle_ = std::make_unique<Handle>();
    Handle& h = *stream->handle_;
    h.memory.bytes = std::move(bytes);
    int error = 0;
    h.mh = mpg123_new(nullptr, &error);
    if (!h.mh) return nullptr;
    // Straight to the device format: mpg123 resamples and doubles mono itself.
    mpg123_param(h.mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_STEREO | MPG123_GAPLESS, 0);
    mpg123_param(h.mh, MPG123_FORCE_RATE, device::Rate, 0);
    mpg123_param(h.mh, MPG123_RESYNC_LIMIT, 4096, 0);
    mpg123_format_none(h.mh);
    if (mpg123_format(h.mh, device::Rate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) return nullptr;
    if (mpg123_replace_reader_handle(h.mh, readMemory, seekMemory, nullptr) != MPG123_OK) return nullptr;
    if (mpg123_open_handle(h.mh, &h.memory) != MPG123_OK) return nullptr;
    // Scanning reads every frame header (no decoding) for an exact length.
    if (mpg123_scan(h.mh) != MPG123_OK) return nullptr;
    const off_t frames = mpg123_length(h.mh);
    if (frames <= 0) return nullptr;
    // Resampling may round a little over the announced length.
    const size_t wanted = (size_t(frames) + size_t(device::Rate) / 10) * device::FrameBytes;
    sound.capacity = std::min(wanted, MaxDecodedBytes);
    sound.buffer.reset(new (std::nothrow) Uint8[sound.capacity]);
    if (!sound.buffer) return nullptr;
    sound.data = sound.buffer.get();
    return stream;
}

Mp3Stream::~Mp3Stream() = default;

bool Mp3Stream::decode(Sound& sound, size_t untilBytes) {
    size_t have = sound.available.load(std::memory_order_relaxed);
    untilBytes = std::min(untilBytes, sound.capacity);
    while (have < untilBytes) {
        // Whole frames only, so the audio thread never sees half a frame.
        const size_t room = std::min<size_t>(sound.capacity - have, 64 * 1024) / device::FrameBytes * device::FrameBytes;
        size_t done = 0;
        const int result = mpg123_read(handle_->mh, sound.buffer.get() + have, room, &done);
        done = done / device::FrameBytes * device::FrameBytes;
        have += done;
        sound.available.store(have, std::memory_order_release);
        if (result == MPG123_NEW_FORMAT) continue;
        if (result != MPG123_OK || (done == 0 && room > 0)) {
            sound.complete.store(true, std::memory_order_release);
            return false;
        }
    }
    if (have >= sound.capacity) {
        sound.complete.store(true, std::memory_order_release);
        return false;
    }
    return true;
}

}  // namespace mci
