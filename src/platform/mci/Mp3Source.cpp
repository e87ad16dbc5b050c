// MP3 streamed from the file with libmpg123, the decoder SDL_mixer itself
// uses here, called directly so it decodes step by step without the mixer's
// lock. mpg123 reads through hooks over a window of the file: the whole file
// for a plain MP3, the data chunk for an MP3 inside a RIFF WAVE. Its frame
// index makes seeking back to the head cheap on a repeated press.
//
// The length mpg123 gives at first is a guess from the first frame (seconds
// off for a VBR file without a frame count); the reader measures it exactly
// in the background.
#include "platform/mci/PcmSource.h"

#define MPG123_NO_LARGENAME
#include <mpg123.h>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

static_assert(sizeof(off_t) == 8, "the unsuffixed libmpg123 entry points take a 64-bit off_t");

namespace mci {
namespace {

// mpg123_init is needed once per process before the first handle.
bool initialised() {
    static const bool ok = mpg123_init() == MPG123_OK;
    return ok;
}

// The window of the file mpg123 sees, and whether the file ended early.
struct Window {
    int fd = -1;
    int64_t begin = 0, end = 0, position = 0;
    bool truncated = false;
};

ssize_t readWindow(void* handle, void* buffer, size_t size) {
    auto* w = static_cast<Window*>(handle);
    const size_t wanted = size_t(std::min<int64_t>(int64_t(size), w->end - w->position));
    size_t got = 0;
    while (got < wanted) {
        const ssize_t n = ::pread(w->fd, static_cast<char*>(buffer) + got, wanted - got, off_t(w->begin + w->position + int64_t(got)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            w->truncated = true;
            break;
        }
        got += size_t(n);
    }
    w->position += int64_t(got);
    return ssize_t(got);
}

off_t seekWindow(void* handle, off_t offset, int whence) {
    auto* w = static_cast<Window*>(handle);
    const int64_t length = w->end - w->begin;
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? w->position : length;
    const int64_t target = base + offset;
    if (target < 0 || target > length) return -1;
    w->position = target;
    return off_t(target);
}

class Mp3Source final : public PcmSource {
public:
    ~Mp3Source() override {
        if (mh_) {
            mpg123_close(mh_);
            mpg123_delete(mh_);
        }
        if (window_.fd >= 0) ::close(window_.fd);
    }

    bool open(const SourceSpec& spec) {
        if (!initialised()) return false;
        stamp_ = spec.stamp;
        window_.fd = openSoundFile(spec.path);
        if (window_.fd < 0 || changed()) return false;
        ::posix_fadvise(window_.fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // a larger read-ahead
        window_.begin = spec.begin;
        window_.end = spec.end;
        int error = 0;
        mh_ = mpg123_new(nullptr, &error);
        if (!mh_) return false;
        // Straight to the device format: mpg123 resamples and doubles mono itself.
        mpg123_param(mh_, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_FORCE_STEREO | MPG123_GAPLESS, 0);
        mpg123_param(mh_, MPG123_FORCE_RATE, device::Rate, 0);
        mpg123_param(mh_, MPG123_RESYNC_LIMIT, 64 * 1024, 0);
        mpg123_format_none(mh_);
        if (mpg123_format(mh_, device::Rate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) return false;
        if (mpg123_replace_reader_handle(mh_, readWindow, seekWindow, nullptr) != MPG123_OK) return false;
        return start();
    }

    bool changed() const override { return FileStamp::of(window_.fd) != stamp_; }

    long read(int16_t* out, long frames) override {
        primed_ = true;
        long done = 0;
        while (done < frames) {
            size_t bytes = 0;
            const int result = mpg123_read(mh_, out + done * device::Channels,
                                           size_t(frames - done) * device::FrameBytes, &bytes);
            done += long(bytes / device::FrameBytes);
            if (result == MPG123_NEW_FORMAT) continue;
            if (result == MPG123_OK && bytes > 0) continue;
            if (result != MPG123_OK && result != MPG123_DONE) failed_ = true;
            break;
        }
        position_ += done;
        if (done > 0) return done;
        return failed_ || window_.truncated ? -1 : 0;
    }

    bool seek(int64_t frame) override {
        // mpg123 lands on a seek target with its bit reservoir and its
        // resampler empty: at a low bit rate thousands of samples come out
        // as silence or wrong. So it decodes from well before the target
        // and drops what comes before it; near the start it begins afresh
        // (exactly as the head was decoded, so a repeated press joins its
        // head and stream sample for sample), further on a second early.
        failed_ = false;
        window_.truncated = false;
        const int64_t from = frame <= ExactSeekFrames ? 0 : frame - device::Rate;
        if (from == 0) {
            mpg123_close(mh_);
            window_.position = 0;
            measured_ = measureTried_ = false;
            if (!start()) return false;
        } else {
            if (!primed_) {
                int16_t scratch[64 * device::Channels];
                if (read(scratch, 64) < 0) return false;
            }
            const off_t at = mpg123_seek(mh_, off_t(from), SEEK_SET);
            if (at < 0) return false;
            position_ = at;
        }
        std::vector<int16_t> scratch(4096 * device::Channels);
        while (position_ < frame) {
            if (read(scratch.data(), long(std::min<int64_t>(4096, frame - position_))) <= 0) return false;
        }
        return true;
    }

    int64_t frames() const override {
        const off_t length = mpg123_length(mh_);
        return length > 0 ? int64_t(length) : 0;
    }
    bool framesExact() const override { return measured_; }
    bool measure() override {
        if (!measured_ && !measureTried_) {
            measureTried_ = true;
            measured_ = mpg123_scan(mh_) == MPG123_OK;
        }
        return measured_;
    }

private:
    static constexpr int64_t ExactSeekFrames = 10 * device::Rate;

    // Opens the stream from its beginning (again).
    bool start() {
        if (mpg123_open_handle(mh_, &window_) != MPG123_OK) return false;
        long rate = 0;
        int channels = 0, encoding = 0;
        primed_ = false;
        position_ = 0;
        return mpg123_getformat(mh_, &rate, &channels, &encoding) == MPG123_OK;
    }

    mpg123_handle* mh_ = nullptr;
    FileStamp stamp_;
    Window window_;
    bool failed_ = false;
    bool primed_ = false;
    bool measured_ = false;
    bool measureTried_ = false;
};

}  // namespace

std::unique_ptr<PcmSource> openMp3Source(const SourceSpec& spec) {
    auto source = std::make_unique<Mp3Source>();
    if (!source->open(spec)) return nullptr;
    return source;
}

}  // namespace mci
