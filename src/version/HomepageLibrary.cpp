#include "version/HomepageLibrary.h"

#include "Kovhpurl.h"
#include "platform/CodePage932.h"
#include "platform/Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

#include <memory>

namespace HomepageLibrary {

namespace {
constexpr int CannotLoadLibrary = 48;
constexpr int EntryPointNotFound = 453;
constexpr int NoAddress = 5;

std::string text(const QString& s) { return s.toStdString(); }
}  // namespace

QStringList searchOrder() {
    return {QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(FileName)),
            QStringLiteral("Kovhpurl")};
}

QString GetHP_URL(const QStringList& places) {
    // A loaded library stays loaded (QLibrary never unloads on its own); a
    // failure is tried afresh by the next request.
    std::unique_ptr<QLibrary> library;
    for (const QString& place : places) {
        auto candidate = std::make_unique<QLibrary>(place);
        if (candidate->load()) {
            library = std::move(candidate);
            break;
        }
    }
    const QString name = QString::fromLatin1(FileName);
    if (!library)
        throw RuntimeError(CannotLoadLibrary, text(QStringLiteral("ライブラリ %1 を読み込めません。").arg(name)));

    auto get = reinterpret_cast<GetHP_URL_Function>(library->resolve("GetHP_URL"));
    auto release = reinterpret_cast<FreeHP_URL_Function>(library->resolve("FreeHP_URL"));
    for (const auto& [found, entry] : {std::pair{get != nullptr, "GetHP_URL"}, {release != nullptr, "FreeHP_URL"}}) {
        if (!found)
            throw RuntimeError(EntryPointNotFound,
                               text(QStringLiteral("ライブラリ %1 にエントリ ポイント %2 が見つかりません。")
                                        .arg(name, QLatin1String(entry))));
    }

    char* address = get();
    if (!address)
        throw RuntimeError(NoAddress, text(QStringLiteral("ライブラリ %1 がアドレスを返しませんでした。").arg(name)));
    const QString result = cp932::toUnicode(QByteArray(address));
    release(address);
    return result;
}

}  // namespace HomepageLibrary
