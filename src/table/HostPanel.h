#pragma once
// The host's window at a quiz table: every seat's state and buzzers, the
// round's order with each press's gap after the first, and the commands
// 正解, 誤答 and リセット (keys O, X and R while the panel has the focus),
// learning a seat's buzzer, and saving the table; スマホで参加 with the phones'
// address, its QR code and the adjudication window. Closing it ends the table.
#include <QTimer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace table {

class Table;

// "1 チームC", "2 チームA +12 ms": one line of the order.
QString orderLine(int place, const QString& name, int64_t gapUs);

class HostPanel : public QWidget {
    Q_OBJECT
public:
    explicit HostPanel(Table& table);

    QTreeWidget* SeatList;
    QListWidget* OrderList;
    QLabel* StatusLabel;
    QPushButton* CorrectButton;
    QPushButton* WrongButton;
    QPushButton* ResetButton;
    QPushButton* LearnButton;
    QPushButton* SaveButton;
    QCheckBox* PhonesCheck;
    QLabel* PhonesLabel;
    QLabel* PhonesQr;
    QComboBox* PhonesSeat;  // whose seat the QR code gives, or the phone's choice

    void refresh();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refreshPhones();

    Table& table_;
    QTimer phonesTimer_;  // the phones' delays change between the round's events
    QString qrAddress_;
};

}  // namespace table
