#pragma once
// The recognition area: a label, normally transparent and without a border,
// whose rectangle is the part of the button window that reacts to a click.
// Settings mode makes it an opaque yellow box with an instruction text.
#include <QLabel>

#include <cstdint>

class RecognitionArea : public QLabel {
    Q_OBJECT
public:
    explicit RecognitionArea(QWidget* parent);

    // Geometry in twips.
    double Left() const;
    double Top() const;
    double Width() const;
    double Height() const;
    void setLeft(double twips);
    void setTop(double twips);
    void setWidth(double twips);
    void setHeight(double twips);

    // 0 transparent, 1 opaque.
    int BackStyle() const { return backStyle_; }
    void setBackStyle(int style);
    // 0 none, 1 fixed single.
    int BorderStyle() const { return borderStyle_; }
    void setBorderStyle(int style);
    uint32_t BackColor() const { return backColor_; }
    void setBackColor(uint32_t color);
    // The caption, drawn word-wrapped; CR LF breaks a line.
    QString Caption() const { return caption_; }
    void setCaption(const QString& caption);

signals:
    // Button codes: 1 left, 2 right, 4 middle.
    void mouseDown(int button);
    // A left press and release over the area.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void applyLook();

    int backStyle_ = 0;
    int borderStyle_ = 0;
    uint32_t backColor_;
    bool leftDown_ = false;
    QString caption_;
};

// Qt's mouse button as the 1/2/4 code the handlers take (0 for others).
int buttonCode(Qt::MouseButton button);
