#pragma once
// The button window: a borderless picture of a button with a recognition area.
// A click on the area, Enter or Space presses it (sound and pressed picture,
// latched); Backspace or a double-click on the body resets it. A right press
// opens the popup menu that carries every command.
#include <QImage>
#include <QWidget>

#include <cstdint>

class QAction;
class QMenu;
class RecognitionArea;
class Seat;

class frmBase : public QWidget {
    Q_OBJECT
public:
    explicit frmBase(Seat& seat);
    Seat& seat() const { return seat_; }

    // Controls and the menu tree.
    RecognitionArea* Label1;
    QMenu* MnuPopUp;
    QMenu* MnuFile;
    QAction* MnuFileNew;
    QAction* MnuFileOpen;
    QAction* MnuFileSaveAs;
    QAction* MnuFileExit;
    QMenu* MnuSet;
    QAction* MnuSetSet;
    QAction* MnuSetTopMost;
    QMenu* MnuHelp;
    QAction* MnuHelpVersion;

    // Outer size in twips (no border, so outer and client size agree).
    double Width() const;
    double Height() const;
    void setWidth(double twips);
    void setHeight(double twips);
    uint32_t BackColor() const;
    void setBackColor(uint32_t color);
    // The picture drawn once at the top-left at its own size; null for none.
    const QImage& Picture() const { return picture_; }
    void setPicture(const QImage& picture);
    // Shows the window and waits until the window manager has put it on the
    // screen (at most three seconds, taking no user input meanwhile).
    void showOnScreen();
    // A window 0 pixels wide or high is off the screen, and with it the only
    // way to its menu. Brings such a window back at ReachableSide pixels in
    // each empty direction, where it was; the settings keep their values.
    void keepReachable();
    static constexpr int ReachableSide = 32;

    // Public methods.
    void PressReset();
    void frmZumblePressReset();
    bool Pressed() const { return IsPressed; }
    // Plays the sound and shows the pressed picture, as an accepted press
    // does. At a quiz table the table calls it for the seats that won.
    void PressNow();
    // At a quiz table: a seat answered wrong and is out until the next question.
    void setLockedOut(bool locked);
    bool lockedOut() const { return lockedOut_; }
    // At a table where several light in order: this seat's place, 0 for none.
    void setRank(int rank);
    int rank() const { return rank_; }
    // Ends the pressed state without touching the picture (a data file was opened).
    void ClearPressed() { IsPressed = false; }

    // Event handlers.
    void Form_Load();
    void Label1_Click();
    void Label1_MouseDown(int Button);
    void Form_MouseDown(int Button);
    void Form_DblClick();
    void Form_KeyDown(int KeyCode, int Shift);
    // Returns the Cancel value: nonzero keeps the window open.
    int Form_QueryUnload();
    // The desktop session is ending. Runs the exit sequence when the user may
    // be asked (or need not be); returns true when the logout is to be cancelled.
    bool Session_End(bool mayAsk);
    void MnuFileOpen_Click();
    void MnuFileSaveAs_Click();
    void MnuFileExit_Click();
    void MnuSetSet_Click();
    void MnuSetTopMost_Click();
    void MnuHelpVersion_Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void resizeKeepingPlace(QSize size);
    void showImageError(const QString& path);

    Seat& seat_;
    bool IsPressed = false;
    bool lockedOut_ = false;
    int rank_ = 0;
    bool queryingUnload_ = false;
    QImage picture_;
    QColor backColor_;
};
