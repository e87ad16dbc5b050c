// libFuzzer target for the media-command interpreter.
//
// The first byte chooses what the rest is:
//   even: a command string, parsed and then carried out on a real interpreter
//         (SDL's dummy audio driver) working in a temporary folder that holds
//         a WAV and a MIDI file;
//   odd:  the bytes of a sound file, written into that folder and opened,
//         played and closed as WAV, MP3 and MIDI.
// File access stays inside the temporary folder: a relative path in an open
// command is taken inside it, commands naming absolute paths, parent folders
// or backslashes are parsed but not carried out, and "wait" is dropped (it
// would only sleep in real time). The working directory is left alone:
// libFuzzer writes its corpus and artifacts relative to it.
#include "platform/CodePage932.h"
#include "platform/mci/Interpreter.h"
#include "platform/mci/MciCommand.h"
#include "platform/mci/MidiFile.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

struct Fixture {
    QTemporaryDir dir;
    mci::Interpreter interpreter{mci::Interpreter::DefaultSoundfontPath};

    Fixture() {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        // 0.05 s of 16-bit mono silence with one loud sample.
        QByteArray wav("RIFF\x00\x00\x00\x00WAVEfmt "
                       "\x10\x00\x00\x00\x01\x00\x01\x00\x44\xAC\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00"
                       "data",
                       40);
        QByteArray pcm(4410, '\0');
        pcm[100] = '\x7F';
        const auto len = uint32_t(pcm.size());
        wav.append(char(len & 0xFF)).append(char(len >> 8 & 0xFF)).append(char(len >> 16 & 0xFF)).append(char(len >> 24));
        wav.append(pcm);
        writeFile(dir.filePath(QStringLiteral("a.wav")), wav);
        writeFile(dir.filePath(QStringLiteral("b.mid")),
                  QByteArray("MThd\0\0\0\x06\0\0\0\x01\0\x60"
                             "MTrk\0\0\0\x0C\0\x90\x3C\x64\x10\x80\x3C\x40\0\xFF\x2F\0",
                             34));
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

bool staysInFolder(const mci::Command& c) {
    if (c.verb != mci::Verb::Open) return true;
    const QString path = cp932::toUnicode(c.device);
    return !path.startsWith(QLatin1Char('/')) && !path.contains(QLatin1String("..")) && !path.contains(QLatin1Char('\\'));
}

// The folder's path in front of a file name, as the service reads it.
QByteArray inFolder(const Fixture& f, const QByteArray& name) { return cp932::fromUnicode(f.dir.path() + QLatin1Char('/')) + name; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Fixture& f = fixture();
    const QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    if (data[0] % 2 == 0) {
        // Several commands, one per line, against the same alias table.
        for (const QByteArray& line : rest.split('\n')) {
            const mci::ParseResult parsed = mci::parseCommand(line);
            if (const auto* command = std::get_if<mci::Command>(&parsed)) {
                mci::Command c = *command;
                c.wait = false;
                if (!staysInFolder(c)) continue;
                if (c.verb == mci::Verb::Open) c.device = inFolder(f, c.device);
                f.interpreter.execute(c);
            }
        }
    } else {
        mci::inspectMidi(rest);
        writeFile(f.dir.filePath(QStringLiteral("input.bin")), rest);
        if (f.interpreter.execute("open \"" + inFolder(f, "input.bin") + "\" type mpegvideo alias x") == 0) {
            f.interpreter.execute(QByteArray("play x from 0"));
            f.interpreter.execute(QByteArray("stop x"));
            f.interpreter.execute(QByteArray("play x"));
        }
    }
    f.interpreter.execute(QByteArray("close all"));
    return 0;
}
