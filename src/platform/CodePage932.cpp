#include "platform/CodePage932.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace {

// One open conversion descriptor, closed when it goes out of scope.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts one unit at a time from `in`, calling onBad(skip) for input the
    // target cannot hold; returns the converted bytes.
    template <typename OnBad>
    QByteArray run(const QByteArray& input, OnBad onBad) {
        QByteArray out;
        std::vector<char> buf(input.size() * 4 + 16);
        char* in = const_cast<char*>(input.constData());
        size_t inLeft = static_cast<size_t>(input.size());
        while (inLeft > 0) {
            char* o = buf.data();
            size_t oLeft = buf.size();
            size_t r = iconv(cd_, &in, &inLeft, &o, &oLeft);
            out.append(buf.data(), static_cast<qsizetype>(buf.size() - oLeft));
            if (r != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL: skip the offending input unit and substitute.
            size_t skip = onBad(out, in, inLeft);
            in += skip;
            inLeft -= skip;
        }
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

namespace cp932 {

namespace {

// Converts to CP932, '?' for each character that has no CP932 form; counts
// those characters in `missing`.
QByteArray encode(const QString& text, int& missing) {
    missing = 0;
    Converter c("CP932", "UTF-16LE");
    QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    if (!c.ok()) {
        missing = text.size();
        return text.toLatin1();
    }
    return c.run(utf16, [&missing](QByteArray& out, const char* in, size_t left) -> size_t {
        out.append('?');
        ++missing;
        // A surrogate pair is one character: skip both halves. A lone high
        // surrogate is one character too; the unit after it is not its pair.
        if (left >= 4) {
            const auto high = static_cast<unsigned char>(in[1]);
            const auto next = static_cast<unsigned char>(in[3]);
            if (high >= 0xD8 && high <= 0xDB && next >= 0xDC && next <= 0xDF) return 4;
        }
        return left >= 2 ? 2 : left;
    });
}

}  // namespace

QByteArray fromUnicode(const QString& text) {
    int missing = 0;
    return encode(text, missing);
}

std::optional<QByteArray> fromUnicodeExact(const QString& text) {
    int missing = 0;
    QByteArray bytes = encode(text, missing);
    if (missing > 0) return std::nullopt;
    return bytes;
}

QString toUnicode(const QByteArray& bytes) {
    Converter c("UTF-16LE", "CP932");
    if (!c.ok()) return QString::fromLatin1(bytes);
    QByteArray utf16 = c.run(bytes, [](QByteArray& out, const char*, size_t) -> size_t {
        const char16_t replacement = 0xFFFD;
        out.append(reinterpret_cast<const char*>(&replacement), 2);
        return 1;
    });
    return QString(reinterpret_cast<const QChar*>(utf16.constData()), utf16.size() / 2);
}

}  // namespace cp932
