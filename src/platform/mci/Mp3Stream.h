#pragma once
// MP3 decoding with libmpg123, the decoder SDL_mixer itself uses here, called
// directly. SDL_mixer's chunk loader holds the mixer's lock for the whole
// decode (a 60 s file stalls every playing sound for about 40 ms), and it can
// only decode a file whole; this decodes into the sound's buffer step by step
// without touching the mixer, so the start of a long file plays while the
// rest is decoded in the background.
#include <QByteArray>

#include <cstddef>
#include <memory>

namespace mci {

struct Sound;

class Mp3Stream {
public:
    // Opens the bytes and sizes the sound's buffer from the stream's length.
    // Null when the bytes do not decode as MPEG audio.
    static std::unique_ptr<Mp3Stream> open(QByteArray bytes, Sound& sound);
    ~Mp3Stream();
    Mp3Stream(const Mp3Stream&) = delete;
    Mp3Stream& operator=(const Mp3Stream&) = delete;

    // Decodes into the sound's buffer until `untilBytes` are available, the
    // stream ends or the buffer is full. Returns false once there is nothing
    // more to decode (the sound is then marked complete).
    bool decode(Sound& sound, size_t untilBytes);

    // Decoded audio is capped (about 25 minutes): a longer file plays its
    // beginning only, so memory stays bounded whatever the file claims.
    static constexpr size_t MaxDecodedBytes = 256u * 1024 * 1024;

private:
    Mp3Stream() = default;
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

}  // namespace mci
