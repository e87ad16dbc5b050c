#include "table/HostPanel.h"

#include "phones/PhoneServer.h"
#include "phones/QrCode.h"
#include "table/Table.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace table {

namespace {

QString stateText(SeatState state, int rank, bool ordered) {
    switch (state) {
    case SeatState::Armed: return QStringLiteral("待機中");
    case SeatState::Lit: return ordered ? QStringLiteral("点灯 %1 位").arg(rank) : QStringLiteral("点灯");
    case SeatState::Dark: return QStringLiteral("押した（消灯）");
    case SeatState::Locked: return QStringLiteral("お手つき");
    case SeatState::Idle: return QStringLiteral("—");
    }
    return {};
}

QPushButton* button(const QString& text, const QString& key, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    if (!key.isEmpty()) b->setShortcut(QKeySequence(key));
    b->setMinimumHeight(40);
    return b;
}

}  // namespace

QString orderLine(int place, const QString& name, int64_t gapUs) {
    if (place == 1) return QStringLiteral("1 %1").arg(name);
    // Close races are told apart to a tenth of a millisecond.
    const QString gap = gapUs < 10'000 ? QString::number(double(gapUs) / 1000.0, 'f', 1)
                                       : QString::number((gapUs + 500) / 1000);
    return QStringLiteral("%1 %2 +%3 ms").arg(place).arg(name, gap);
}

HostPanel::HostPanel(Table& table) : QWidget(nullptr), table_(table) {
    setObjectName(QStringLiteral("HostPanel"));
    setWindowTitle(QStringLiteral("早押し卓 — 司会"));
    setAttribute(Qt::WA_QuitOnClose, true);

    SeatList = new QTreeWidget(this);
    SeatList->setHeaderLabels(
        {QStringLiteral("チーム"), QStringLiteral("状態"), QStringLiteral("ブザー"), QStringLiteral("スマホ")});
    SeatList->setRootIsDecorated(false);
    SeatList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    OrderList = new QListWidget(this);
    StatusLabel = new QLabel(this);
    StatusLabel->setWordWrap(true);

    CorrectButton = button(QStringLiteral("正解 (O)"), QStringLiteral("O"), this);
    WrongButton = button(QStringLiteral("誤答 (X)"), QStringLiteral("X"), this);
    ResetButton = button(QStringLiteral("リセット (R)"), QStringLiteral("R"), this);
    LearnButton = button(QStringLiteral("ブザーを登録"), QString(), this);
    SaveButton = button(QStringLiteral("卓を保存"), QString(), this);
    connect(CorrectButton, &QPushButton::clicked, &table_, &Table::correct);
    connect(WrongButton, &QPushButton::clicked, &table_, &Table::wrong);
    connect(ResetButton, &QPushButton::clicked, &table_, &Table::reset);
    connect(LearnButton, &QPushButton::clicked, this, [this] {
        table_.learn(table_.learning() >= 0 ? -1 : std::max(0, SeatList->indexOfTopLevelItem(SeatList->currentItem())));
    });
    connect(SaveButton, &QPushButton::clicked, &table_, &Table::save);

    PhonesCheck = new QCheckBox(QStringLiteral("スマホで参加"), this);
    PhonesLabel = new QLabel(this);
    PhonesLabel->setWordWrap(true);
    PhonesLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    PhonesQr = new QLabel(this);
    // The host may give a player a seat: the QR code then leads straight to it.
    PhonesSeat = new QComboBox(this);
    PhonesSeat->addItem(QStringLiteral("QR: 席はスマホで選ぶ"));
    for (int i = 0; i < table_.seats(); ++i) PhonesSeat->addItem(QStringLiteral("QR: 「%1」の席").arg(table_.seatConfig(i).name));
    connect(PhonesSeat, &QComboBox::currentIndexChanged, this, &HostPanel::refreshPhones);
    connect(PhonesCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (!table_.setPhones(on) && on) {
            const QSignalBlocker block(PhonesCheck);
            PhonesCheck->setChecked(false);
        }
        refreshPhones();
    });
    phonesTimer_.setInterval(1000);
    connect(&phonesTimer_, &QTimer::timeout, this, &HostPanel::refresh);

    auto* commands = new QHBoxLayout;
    for (QPushButton* b : {CorrectButton, WrongButton, ResetButton}) commands->addWidget(b);
    auto* tools = new QHBoxLayout;
    tools->addWidget(LearnButton);
    tools->addWidget(SaveButton);
    auto* order = new QLabel(QStringLiteral("押した順"), this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SeatList, 3);
    layout->addWidget(order);
    layout->addWidget(OrderList, 2);
    layout->addLayout(commands);
    layout->addLayout(tools);
    layout->addWidget(StatusLabel);
    auto* phones = new QHBoxLayout;
    auto* phonesText = new QVBoxLayout;
    phonesText->addWidget(PhonesCheck);
    phonesText->addWidget(PhonesLabel, 1);
    phonesText->addWidget(PhonesSeat);
    phones->addLayout(phonesText, 1);
    phones->addWidget(PhonesQr);
    layout->addLayout(phones);
    resize(460, 440);

    connect(&table_, &Table::changed, this, &HostPanel::refresh);
    refresh();
}

void HostPanel::refresh() {
    const Round& round = table_.round();
    const bool ordered = round.mode() == Lockout::Order;
    const QStringList devices = table_.inputs().devices();
    const int selected = SeatList->indexOfTopLevelItem(SeatList->currentItem());
    const phones::PhoneServer* server = table_.phones();
    const std::vector<phones::PhoneStatus> phoneStatus =
        server && server->running() ? server->status() : std::vector<phones::PhoneStatus>();
    SeatList->clear();
    for (int i = 0; i < table_.seats(); ++i) {
        int rank = 0;
        for (const Press& p : round.order())
            if (p.seat == i) rank = p.rank;
        const SeatConfig& cfg = table_.seatConfig(i);
        QStringList inputs;
        for (const QString& binding : cfg.inputs) {
            // A gamepad or joystick that is not plugged in is marked on its seat.
            const bool device = binding.startsWith(u"gamepad:") || binding.startsWith(u"joystick:");
            const QString prefix = binding.section(u':', 0, 1) + u' ';
            const bool connected = std::any_of(devices.begin(), devices.end(),
                                               [&](const QString& d) { return d.startsWith(prefix); });
            inputs << (device && !connected ? binding + QStringLiteral("（未接続）") : binding);
        }
        QString phone;
        if (size_t(i) < phoneStatus.size() && phoneStatus[size_t(i)].held) {
            const phones::PhoneStatus& p = phoneStatus[size_t(i)];
            phone = !p.connected ? QStringLiteral("切断")
                    : p.oneWayUs < 0 ? QStringLiteral("接続中（遅れを測定中）")
                                     : QStringLiteral("接続中 %1 ms").arg((p.oneWayUs + 500) / 1000);
        }
        auto* item = new QTreeWidgetItem(SeatList, {cfg.name, stateText(round.state(i), rank, ordered),
                                                    inputs.join(QStringLiteral(", ")), phone});
        if (round.state(i) == SeatState::Locked) item->setForeground(1, Qt::gray);
        if (round.state(i) == SeatState::Lit) item->setForeground(1, Qt::red);
    }
    if (selected >= 0) SeatList->setCurrentItem(SeatList->topLevelItem(selected));

    OrderList->clear();
    const auto& presses = round.order();
    for (size_t i = 0; i < presses.size(); ++i)
        OrderList->addItem(orderLine(int(i) + 1, table_.seatConfig(presses[i].seat).name,
                                     presses[i].timeUs - presses.front().timeUs));

    QStringList status;
    if (table_.learning() >= 0)
        status << QStringLiteral("「%1」のブザーを押してください。").arg(table_.seatConfig(table_.learning()).name);
    if (!table_.inputs().devicesStarted()) {
        status << QStringLiteral("ゲームパッドと MIDI: 準備中");
    } else {
        status << (table_.inputs().midiAvailable() ? QStringLiteral("MIDI: 使用できます")
                                                   : QStringLiteral("MIDI: 使用できません（ALSA シーケンサがありません）"));
        status << (devices.isEmpty() ? QStringLiteral("ゲームパッド: 接続されていません")
                                     : QStringLiteral("ゲームパッド: ") + devices.join(QStringLiteral("、")));
    }
    StatusLabel->setText(status.join(u'\n'));
    LearnButton->setText(table_.learning() >= 0 ? QStringLiteral("登録をやめる") : QStringLiteral("ブザーを登録"));
    refreshPhones();
}

void HostPanel::refreshPhones() {
    const phones::PhoneServer* server = table_.phones();
    const bool running = server && server->running();
    {
        const QSignalBlocker block(PhonesCheck);
        PhonesCheck->setChecked(running);
    }
    if (running != phonesTimer_.isActive()) running ? phonesTimer_.start() : phonesTimer_.stop();
    const int seat = PhonesSeat->currentIndex() - 1;
    const QString address = !running ? QString() : seat < 0 ? server->address() : server->address() + QStringLiteral("&seat=%1").arg(seat);
    QStringList lines;
    if (running) {
        lines << address;
        const int64_t window = table_.adjudicationWindowUs();
        lines << (window > 0 ? QStringLiteral("判定待ち: %1 ms").arg((window + 500) / 1000)
                             : QStringLiteral("判定待ち: なし（押せるスマホの席がありません）"));
        if (!server->onNetwork())
            lines << QStringLiteral("ローカルネットワークのアドレスが見つかりません。このパソコンからしか参加できません。");
    } else if (server && !server->error().isEmpty()) {
        lines << QStringLiteral("スマホの受付を始められませんでした: ") + server->error();
    }
    PhonesLabel->setText(lines.join(u'\n'));
    if (address != qrAddress_) {
        qrAddress_ = address;
        PhonesQr->setPixmap(address.isEmpty() ? QPixmap() : QPixmap::fromImage(phones::qrCode(address, 3)));
    }
    PhonesLabel->setVisible(!lines.isEmpty());
    PhonesQr->setVisible(!address.isEmpty());
    PhonesQr->setToolTip(address);
    PhonesSeat->setVisible(running);
}

void HostPanel::closeEvent(QCloseEvent* event) {
    if (!table_.exit()) event->ignore();
}

}  // namespace table
