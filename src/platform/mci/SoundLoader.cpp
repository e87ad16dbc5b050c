#include "platform/mci/SoundLoader.h"

#include "platform/mci/BackgroundDecoder.h"
#include "platform/mci/MciErrors.h"
#include "platform/mci/MidiFile.h"
#include "platform/mci/Sound.h"

#include <QFile>

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

// Size of a leading ID3v2 tag (cover pictures can make it large), so the head
// decode covers audio and not just the tag.
qint64 id3Size(const QByteArray& start) {
    if (start.size() < 10 || !start.startsWith("ID3")) return 0;
    const auto* b = reinterpret_cast<const uint8_t*>(start.constData());
    const qint64 size = qint64(b[6] & 0x7F) << 21 | qint64(b[7] & 0x7F) << 14 | qint64(b[8] & 0x7F) << 7 | (b[9] & 0x7F);
    return 10 + size + ((b[5] & 0x10) ? 10 : 0);
}

Mix_Chunk* decode(const char* data, qint64 size) {
    SDL_RWops* rw = SDL_RWFromConstMem(data, int(size));
    return rw ? Mix_LoadWAV_RW(rw, 1) : nullptr;
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
        // WAV needs no decoding worth streaming: read and convert it whole.
        const QByteArray bytes = file.readAll();
        Mix_Chunk* chunk = decode(bytes.constData(), bytes.size());
        if (!chunk || chunk->alen == 0) {
            if (chunk) Mix_FreeChunk(chunk);
            return {nullptr, mcierr::InvalidFile};
        }
        auto sound = std::make_shared<Sound>(Sound::Kind::Pcm);
        sound->head = chunk;
        sound->complete.store(true);
        return {sound, 0};
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
        QByteArray bytes = file.readAll();
        const qint64 headBytes = id3Size(start) + Mp3HeadBytes;
        const bool whole = headBytes >= bytes.size();
        Mix_Chunk* head = decode(bytes.constData(), whole ? bytes.size() : headBytes);
        if (!head || head->alen == 0) {
            if (head) Mix_FreeChunk(head);
            return {nullptr, mcierr::InvalidFile};
        }
        auto sound = std::make_shared<Sound>(Sound::Kind::Pcm);
        sound->head = head;
        if (whole)
            sound->complete.store(true);
        else
            decoder.submit(sound, std::move(bytes));
        return {sound, 0};
    }
    case Content::Unknown:
        break;
    }
    return {nullptr, mcierr::InvalidFile};
}

}  // namespace mci
