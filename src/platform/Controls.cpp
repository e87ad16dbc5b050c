#include "platform/Controls.h"

#include "platform/Errors.h"

#include <QCheckBox>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace {
[[noreturn]] void invalidValue() {
    throw RuntimeError(ErrorNumber::InvalidPropertyValue, "プロパティの値が不正です。");
}
}  // namespace

void assignValue(QScrollBar* scroll, int value) {
    if (value < scroll->minimum() || value > scroll->maximum()) invalidValue();
    scroll->setValue(value);
}

void assignValue(QCheckBox* check, int value) {
    switch (value) {
    case 0: check->setCheckState(Qt::Unchecked); break;
    case 1: check->setCheckState(Qt::Checked); break;
    case 2: check->setCheckState(Qt::PartiallyChecked); break;
    default: invalidValue();
    }
}

int checkValue(const QCheckBox* check) {
    switch (check->checkState()) {
    case Qt::Unchecked: return 0;
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    }
    return 0;
}

void ValueScrollBar::paintEvent(QPaintEvent* event) {
    QScrollBar::paintEvent(event);
    if (!hasFocus()) return;
    QPainter painter(this);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    // However the focus came: styles that show it only after a key press
    // would not show it on a dialog that opens with it.
    frame.state |= QStyle::State_KeyboardFocusChange;
    frame.rect = rect().adjusted(1, 1, -1, -1);
    frame.backgroundColor = palette().color(QPalette::Window);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
}
