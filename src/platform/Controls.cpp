#include "platform/Controls.h"

#include "platform/Errors.h"

#include <QCheckBox>
#include <QScrollBar>

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
