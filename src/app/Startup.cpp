#include "app/Startup.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void setUpFonts() {
    const QString windowsGothic = QStringLiteral("ＭＳ Ｐゴシック");
    QFont::insertSubstitutions(windowsGothic, {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
                                               QStringLiteral("IPAGothic")});
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), {QStringLiteral("IPAGothic")});
    QFont font(windowsGothic, 9);
    QApplication::setFont(font);
}

QTranslator* loadQtTranslations(const QLocale& locale) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}
