#pragma once
// The settings dialog. Its controls are the store of the current settings for
// the whole run: created hidden at start-up, shown modally by settings mode,
// hidden again by OK, never destroyed while the program runs.
#include "platform/CommonDialog.h"

#include <QDialog>

#include <array>
#include <cstdint>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class Seat;

class frmSetDlg : public QDialog {
    Q_OBJECT
public:
    explicit frmSetDlg(Seat& seat);

    QGroupBox* Frame1;
    QGroupBox* Frame2;
    QGroupBox* Frame3;
    QGroupBox* Frame4;
    std::array<QLabel*, 7> Label1{};
    std::array<QLabel*, 2> Label2{};
    QLabel* Label3;
    // 0..5 read-outs of the scroll bars, 6 the background colour swatch.
    std::array<QLabel*, 7> Label4{};
    // Window width, window height, area left, area top, area width, area height (twips).
    std::array<QScrollBar*, 6> HScroll1{};
    // Unpressed image, pressed-and-lit image, sound file.
    std::array<QLineEdit*, 3> Text1{};
    std::array<QPushButton*, 3> Command1{};
    std::array<QPushButton*, 1> Command2{};
    QCheckBox* Check1;
    CommonDialog C_Dialog1;

    // The swatch's colour, 0x00BBGGRR: the background-colour setting.
    uint32_t swatchColor() const { return swatchColor_; }
    void setSwatchColor(uint32_t color);
    // Check box value 0, 1 or 2; assigning a new value runs Check1_Click.
    int check1Value() const;
    void setCheck1Value(int value);
    // Assigning a scroll value runs HScroll1_Change when it changes;
    // out of range it is an invalid property value.
    void setScrollValue(int index, int value);

    // Applies the six scroll values to the button window.
    void RefreshWnd();

    // Event handlers.
    void HScroll1_Change(int Index);
    void Command1_Click(int Index);
    void Label4_Click(int Index);
    void Command2_Click(int Index);
    void Check1_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();

    Seat& seat_;
    uint32_t swatchColor_ = 0;
};
