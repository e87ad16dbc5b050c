#include "platform/mci/SoundLoader.h"

#include "platform/mci/BackgroundDecoder.h"
#include "platform/mci/MciErrors.h"
#include "platform/mci/MidiFile.h"
#include "platform/mci/Mp3Stream.h"
#include "platform/mci/Sound.h"

#include <QFile>

#include <algorithm>
#include <cstdlib>

namespace mci {
namespace {

enum class Content { Wav, Midi, Mp3, Unknown };

Content sniff(const QByteArray& start) {
    const auto* b = reinterpret_cast<const uint8_t*>(start.constData());
    if (start.size() >= 12 && start.startsWith("RIFF") && start.mid(8, 4) == "WAVE") return Content::Wav;
    if (start.startsWith("MThd")) return Content::Midi;
    if (start.startsWith("ID3")) return Content::Mp3;
    if (start.size() >= 4 && b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && (b[1] & 0x06) != 0) return Content::Mp3;
    return Content::Unknown;
}

LoadResult fromChunk(Mix_Chunk* chunk) {
    if (!chunk || chunk->alen < device::FrameBytes) {
        if (chunk) Mix_FreeChunk(chunk);
        return {nullptr, mcierr::InvalidFile};
    }
    auto sound = std::make_shared<Sound>(Sound::Kind::Pcm);
    sound->chunk = chunk;
    sound->data = chunk->abuf;
    sound->capacity = chunk->alen;
    sound->available.store(chunk->alen);
    sound->complete.store(true);
    return {sound, 0};
}

// Bytes of digital silence an MP3 decoder puts before the music (its delay
// and the encoder's padding), at most about 50 ms, whole frames.
size_t leadingSilence(const Uint8* data, size_t bytes) {
    const auto* samples = reinterpret_cast<const int16_t*>(data);
    const size_t limit = std::min(bytes / 2, size_t(device::Rate / 20) * device::Channels);
    size_t i = 0;
    while (i < limit && std::abs(samples[i]) <= 2) ++i;
    return i / device::Channels * device::FrameBytes;
}

}  // namespace

LoadResult loadSound(const QString& path, BackgroundDecoder& decoder) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {nullptr, mcierr::InvalidFile};
    const qint64 size = file.size();
    const QByteArray start = file.peek(16);

    switch (sniff(start)) {
    case Content::Wav: {
        if (size > MaxPcmFileBytes) return {nullptr, mcierr::InvalidFile};
        // WAV needs no decoding worth streaming: SDL reads and converts it
        // whole, straight from the file (a copy in between costs more than
        // the load itself for a long file).
        file.close();
        return fromChunk(Mix_LoadWAV_RW(SDL_RWFromFile(QFile::encodeName(path).constData(), "rb"), 1));
    }
    case Content::Midi: {
        if (size > MaxMidiFileBytes) return {nullptr, mcierr::InvalidFile};
        QByteArray bytes = file.readAll();
        const std::optional<MidiInfo> info = inspectMidi(bytes);
        if (!info) return {nullptr, mcierr::InvalidFile};
        auto sound = std::make_shared<Sound>(Sound::Kind::Midi);
        sound->midi = std::move(bytes);
        sound->midiSeconds = info->seconds;
        sound->complete.store(true);
        return {sound, 0};
    }
    case Content::Mp3: {
        if (size > MaxPcmFileBytes) return {nullptr, mcierr::InvalidFile};
        auto sound = std::make_shared<Sound>(Sound::Kind::Pcm);
        std::unique_ptr<Mp3Stream> stream = Mp3Stream::open(file.readAll(), *sound);
        if (!stream) return {nullptr, mcierr::InvalidFile};
        const bool more = stream->decode(*sound, Mp3HeadBytes);
        const size_t available = sound->available.load();
        if (available == 0) return {nullptr, mcierr::InvalidFile};
        sound->startByte = leadingSilence(sound->data, available);
        if (more) decoder.submit(sound, std::move(stream));
        return {sound, 0};
    }
    case Content::Unknown:
        break;
    }
    return {nullptr, mcierr::InvalidFile};
}

}  // namespace mci
