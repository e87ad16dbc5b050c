#include "ScriptedDesktop.h"

#include "platform/CodePage932.h"
#include "platform/mci/MciService.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

ScriptedDesktop::ScriptedDesktop() { setDesktop(this); }

ScriptedDesktop::~ScriptedDesktop() { setDesktop(nullptr); }

void ScriptedDesktop::useRealMci() {
    mci = [](const QString& command) { return MciService::instance().sendText(command); };
}

void ScriptedDesktop::clear() { calls.clear(), mciCommands.clear(), mciBytes.clear(); }

int ScriptedDesktop::msgBox(const QString& text, int style, const QString& title) {
    calls << QStringLiteral("MsgBox %1 %2 %3").arg(style).arg(title, text);
    const int answer = msgBoxAnswers.empty() ? (style == MsgBoxStyle::YesNoCancelQuestion ? MsgBoxResult::Cancel : MsgBoxResult::Ok)
                                             : msgBoxAnswers.front();
    if (!msgBoxAnswers.empty()) msgBoxAnswers.pop_front();
    return answer;
}

std::optional<QString> ScriptedDesktop::fileDialog(FileDialogKind kind, const QString& filter,
                                                   const QString& fileName, int32_t flags) {
    calls << QStringLiteral("%1 %2 %3 [%4]").arg(QLatin1String(kind == FileDialogKind::Open ? "ShowOpen" : "ShowSave")).arg(flags).arg(filter, fileName);
    if (fileAnswers.empty()) return std::nullopt;
    const std::optional<QString> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

std::optional<uint32_t> ScriptedDesktop::colorDialog(uint32_t color, int32_t flags) {
    calls << QStringLiteral("ShowColor %1 %2").arg(flags).arg(color, 8, 16, QLatin1Char('0'));
    if (colorAnswers.empty()) return std::nullopt;
    auto answer = colorAnswers.front();
    colorAnswers.pop_front();
    return answer;
}

void ScriptedDesktop::showModal(QWidget* window) {
    calls << QStringLiteral("ShowModal ") + window->objectName();
    window->show();
    if (!modalScripts.empty()) {
        auto script = std::move(modalScripts.front());
        modalScripts.pop_front();
        script(window);
    }
    window->hide();
}

int ScriptedDesktop::setWindowPos(QWidget* window, int insertAfter, int x, int y, int cx, int cy,
                                  uint32_t flags) {
    QStringList args{QStringLiteral("SetWindowPos"), window->objectName()};
    for (qint64 v : {qint64(insertAfter), qint64(x), qint64(y), qint64(cx), qint64(cy), qint64(flags)}) args << QString::number(v);
    calls << args.join(u' ');
    return 1;
}

int ScriptedDesktop::releaseCapture() {
    calls << QStringLiteral("ReleaseCapture");
    return 1;
}

intptr_t ScriptedDesktop::sendMessage(QWidget* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    calls << QStringLiteral("SendMessage %1 %2 %3 %4").arg(window->objectName()).arg(message).arg(wParam).arg(lParam);
    return 0;
}

QAction* findMenuItem(QMenu* menu, const QString& name) {
    for (QAction* action : menu->actions()) {
        if (action->objectName() == name) return action;
        if (action->menu()) {
            if (action->menu()->objectName() == name) return action;
            if (QAction* found = findMenuItem(action->menu(), name)) return found;
        }
    }
    return nullptr;
}

void ScriptedDesktop::popupMenu(QWidget*, QMenu* menu) {
    calls << QStringLiteral("PopupMenu ") + menu->objectName();
    if (popupChoices.empty()) return;
    const QString choice = popupChoices.front();
    popupChoices.pop_front();
    if (choice.isEmpty()) return;
    if (QAction* item = findMenuItem(menu, choice); item && item->isVisible() && item->isEnabled())
        item->trigger();
}

int ScriptedDesktop::mciSendString(const QString& command) {
    calls << QStringLiteral("mci ") + command;
    mciCommands << command;
    mciBytes << cp932::fromUnicode(command);
    return mci(command);
}

void ScriptedDesktop::endProcess() {
    calls << QStringLiteral("End");
    throw ProcessEnded{};
}

void ScriptedDesktop::shellOpen(QWidget* window, const QString& address) {
    calls << QStringLiteral("ShellOpen %1 %2").arg(window ? window->objectName() : QString(), address);
}
