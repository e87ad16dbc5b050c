#include "app/Startup.h"

#include <QApplication>
#include <QFont>

void setUpFonts() {
    const QString windowsGothic = QStringLiteral("ＭＳ Ｐゴシック");
    QFont::insertSubstitutions(windowsGothic, {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
                                               QStringLiteral("IPAGothic")});
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), {QStringLiteral("IPAGothic")});
    QFont font(windowsGothic, 9);
    QApplication::setFont(font);
}
