#include "button/RecognitionArea.h"

#include "platform/Twips.h"

#include <QFontInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>

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
    update();
}

void RecognitionArea::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);  // the border; the background is filled when opaque
    if (caption_.isEmpty()) return;
    // Word-wrapped lines set one em apart, as the Windows face the caption is
    // designed for sets them; the Gothic face standing in for it adds a gap
    // that would push the last line of the settings-mode text out of the area.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect box = contentsRect();
    const int pitch = QFontInfo(font()).pixelSize();
    int y = 0;
    for (const QString& paragraph : caption_.split(QStringLiteral("\r\n"))) {
        if (paragraph.isEmpty()) {
            y += pitch;
            continue;
        }
        QTextLayout layout(paragraph, font());
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(box.width());
            line.setPosition(QPointF(0, y));
            y += pitch;
        }
        layout.endLayout();
        layout.draw(&painter, box.topLeft());
    }
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
