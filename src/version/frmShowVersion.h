#pragma once
// The version dialog: the program's title and version, its maker and
// distributor, a picture, and a link that opens the maker's homepage. It is
// created each time it is shown and destroyed when it closes, so every
// opening starts from its design state.
#include <QDialog>

#include <array>

class QLabel;
class QPushButton;

class frmShowVersion : public QDialog {
    Q_OBJECT
public:
    frmShowVersion();

    QLabel* Label1;
    QLabel* Label2;
    std::array<QLabel*, 2> Label3{};
    QLabel* Image1;
    QLabel* Label5;
    QLabel* Label4;
    QPushButton* Command1;

    // Where the homepage library is looked for (by default beside the
    // executable, then on the system's library path).
    QStringList libraryPlaces;

    void Command1_Click();
    void Label5_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The version command: shows a new dialog modally, without an owner, and
// destroys it once it has been closed (by OK or by its close box).
void showVersionDialog();
