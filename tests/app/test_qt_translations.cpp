// Qt's own dialogs speak the desktop's language: with a Japanese locale the
// file dialog the program opens and the colour dialog carry Qt's Japanese
// texts; a language Qt has no translation for leaves them in English.
#include "app/Startup.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

namespace {

QStringList labelTexts(const QWidget& dialog) {
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
    for (const QPushButton* button : dialog.findChildren<QPushButton*>()) texts << button->text();
    return texts;
}

// The file dialog as the program builds it: Qt's own widgets, not the
// desktop's native dialog.
QStringList fileDialogTexts() {
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    return labelTexts(dialog);
}

QStringList colourDialogTexts() {
    QColorDialog dialog;
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    return labelTexts(dialog);
}

}  // namespace

class QtTranslations : public QObject {
    Q_OBJECT
private slots:
    void japaneseLocaleTranslatesQtDialogs() {
        QTranslator* translator = loadQtTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
        QVERIFY(translator != nullptr);

        const QStringList file = fileDialogTexts();
        QVERIFY2(file.contains(QStringLiteral("キャンセル")), qPrintable(file.join(QLatin1Char('|'))));
        QVERIFY2(!file.contains(QStringLiteral("Cancel")), qPrintable(file.join(QLatin1Char('|'))));
        QVERIFY2(file.contains(QStringLiteral("ファイルの種類:")), qPrintable(file.join(QLatin1Char('|'))));

        const QStringList colour = colourDialogTexts();
        QVERIFY2(colour.contains(QStringLiteral("キャンセル")), qPrintable(colour.join(QLatin1Char('|'))));

        QCoreApplication::removeTranslator(translator);
        delete translator;
        QVERIFY(fileDialogTexts().contains(QStringLiteral("Cancel")));
    }

    void localeWithoutTranslationKeepsEnglish() {
        QCOMPARE(loadQtTranslations(QLocale(QLocale::Swahili, QLocale::Kenya)), nullptr);
        const QStringList file = fileDialogTexts();
        QVERIFY2(file.contains(QStringLiteral("Cancel")), qPrintable(file.join(QLatin1Char('|'))));
        QVERIFY2(file.contains(QStringLiteral("Files of type:")), qPrintable(file.join(QLatin1Char('|'))));
    }
};

QTEST_MAIN(QtTranslations)
#include "test_qt_translations.moc"
