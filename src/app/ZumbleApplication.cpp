#include "app/ZumbleApplication.h"

#include "platform/App.h"
#include "platform/Desktop.h"
#include "platform/Errors.h"

#include <exception>

ZumbleApplication::ZumbleApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool ZumbleApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const RuntimeError& e) {
        reportFatalError(e.number(), QString::fromStdString(e.what()));
    } catch (const std::exception& e) {
        reportFatalError(0, QString::fromStdString(e.what()));
    }
}

void reportFatalError(int number, const QString& description) {
    desktop().msgBox(QStringLiteral("実行時エラー '%1':\r\n\r\n%2").arg(number).arg(description),
                     MsgBoxStyle::OkStop, EXEName());
    End();
}
