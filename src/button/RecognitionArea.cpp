#include "button/RecognitionArea.h"

#include "platform/Twips.h"

#include <QMouseEvent>

int buttonCode(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
    }
}

RecognitionArea::RecognitionArea(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("Label1"));
    backColor_ = refFromColor(palette().color(QPalette::Base));
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
    setForegroundRole(QPalette::WindowText);
    applyLook();
}

double RecognitionArea::Left() const { return pixelsToTwips(x()); }
double RecognitionArea::Top() const { return pixelsToTwips(y()); }
double RecognitionArea::Width() const { return pixelsToTwips(width()); }
double RecognitionArea::Height() const { return pixelsToTwips(height()); }
void RecognitionArea::setLeft(double twips) { move(twipsToPixels(twips), y()); }
void RecognitionArea::setTop(double twips) { move(x(), twipsToPixels(twips)); }
void RecognitionArea::setWidth(double twips) { resize(twipsToPixels(twips), height()); }
void RecognitionArea::setHeight(double twips) { resize(width(), twipsToPixels(twips)); }

void RecognitionArea::setBackStyle(int style) {
    backStyle_ = style;
    applyLook();
}

void RecognitionArea::setBorderStyle(int style) {
    borderStyle_ = style;
    applyLook();
}

void RecognitionArea::setBackColor(uint32_t color) {
    backColor_ = color;
    applyLook();
}

void RecognitionArea::setCaption(const QString& caption) {
    caption_ = caption;
    setText(QString(caption).replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

void RecognitionArea::applyLook() {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colorFromRef(backColor_));
    setPalette(pal);
    setAutoFillBackground(backStyle_ == 1);
    if (borderStyle_ == 1) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(1);
    } else {
        setFrameStyle(QFrame::NoFrame);
    }
}

void RecognitionArea::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) leftDown_ = true;
    emit mouseDown(buttonCode(event->button()));
}

void RecognitionArea::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !leftDown_) return;
    leftDown_ = false;
    if (rect().contains(event->position().toPoint())) emit clicked();
}

void RecognitionArea::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double-click is no new press: the button stays as
    // the first click left it, and the window is not reset from here.
    event->accept();
}
