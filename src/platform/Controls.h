#pragma once
// Assigning control values from code. A change runs the control's handler
// before the assignment returns and assigning the value already held runs
// nothing (Qt's valueChanged/stateChanged behave exactly so). Qt would clamp
// an out-of-range value silently; here it is an invalid property value.
#include <QScrollBar>

class QCheckBox;

// A scroll bar that holds a setting rather than scrolling a view. It takes
// the keyboard focus, so it shows it: Qt's styles draw no focus on a scroll
// bar, and a dialog that opens with the focus on one would not show where
// the keys go.
class ValueScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void paintEvent(QPaintEvent* event) override;
};

void assignValue(QScrollBar* scroll, int value);

// Check box values: 0 off, 1 on, 2 greyed.
void assignValue(QCheckBox* check, int value);
int checkValue(const QCheckBox* check);
