#pragma once
// Assigning control values from code. A change runs the control's handler
// before the assignment returns and assigning the value already held runs
// nothing (Qt's valueChanged/stateChanged behave exactly so). Qt would clamp
// an out-of-range value silently; here it is an invalid property value.
class QCheckBox;
class QScrollBar;

void assignValue(QScrollBar* scroll, int value);

// Check box values: 0 off, 1 on, 2 greyed.
void assignValue(QCheckBox* check, int value);
int checkValue(const QCheckBox* check);
