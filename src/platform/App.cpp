#include "platform/App.h"

#include <QCoreApplication>
#include <QFileInfo>

QString EXEName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}
