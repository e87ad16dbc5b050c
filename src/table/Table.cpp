#include "table/Table.h"

#include "app/SoundWarmUp.h"
#include "button/frmBase.h"
#include "datafile/DataFile.h"
#include "datafile/DataFileCommands.h"
#include "phones/PhoneServer.h"
#include "platform/Picture.h"
#include "platform/Desktop.h"
#include "settings/frmSetDlg.h"
#include "sound/mdlSndAPI.h"
#include "table/HostPanel.h"
#include "table/InputClock.h"

#include <QEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace table {

namespace {
const QString HostChannel = QStringLiteral("Host");
constexpr int SeatGap = 16;  // pixels between windows laid out in a row
}  // namespace

Table::Table() {
    settleTimer_.setSingleShot(true);
    settleTimer_.setTimerType(Qt::PreciseTimer);
    connect(&settleTimer_, &QTimer::timeout, this, [this] {
        apply(round_.settle(monotonicUs()));
        scheduleSettle();
    });
    connect(&inputs_, &Inputs::inputPressed, this, &Table::onInput);
    connect(this, &Table::changed, this, &Table::showToPhones);
    inputs_.setKeyFilter([this](const QString& binding) { return learning_ >= 0 || seatOf(binding) >= 0; });
}

Table::~Table() = default;

bool Table::open(const QString& path) {
    try {
        config_ = readTableFile(path);
    } catch (const TableFileError& e) {
        desktop().msgBox(QStringLiteral("卓のファイルを開けませんでした。\r\n") + path + QStringLiteral("\r\n") + e.reason(),
                         MsgBoxStyle::OkStop, QStringLiteral("読み込みエラー"));
        return false;
    }
    path_ = path;
    round_ = Round(int(config_.seats.size()), config_.rules.lockout, config_.rules.lit);
    int nextX = 40;
    for (size_t i = 0; i < config_.seats.size(); ++i) {
        const SeatConfig& cfg = config_.seats[i];
        auto seat = std::make_unique<Seat>(QStringLiteral("Seat%1").arg(i + 1));
        const int index = int(i);
        seat->pressRequest = [this, index](int64_t timeUs) { press(index, timeUs); };
        seat->resetRequest = [this] { reset(); };
        seat->closeRequest = [this] { return exit(); };
        frmBase& base = seat->Base();
        base.setWindowTitle(cfg.name);
        base.move(cfg.place.value_or(QPoint(nextX, 40)));
        // A kit that is missing or short is reported, and the seat keeps the
        // design settings, as a data file named at start-up is. It is applied
        // before the seat is shown: its width comes before its height, which
        // is still 0, and a window taken off the screen and mapped again
        // before the window manager has shown it can stay unmapped.
        if (!cfg.kit.isEmpty()) DataFileCommands::OpenStartupFile(resolvePath(path, cfg.kit), *seat);
        base.show();
        nextX = base.x() + base.width() + SeatGap;
        opened_.push_back(DataFileCommands::CurrentSettings(*seat));
        seats_.push_back(std::move(seat));
    }
    panel_ = std::make_unique<HostPanel>(*this);
    panel_->show();
    // Keys press seats at once. The gamepads, MIDI and every seat's sound are
    // made ready once the host panel, shown last, has painted: they take the
    // CPU the first paint of nine windows needs, and nobody presses in the
    // moment the table appears.
    inputs_.startKeys();
    panel_->installEventFilter(this);
    QTimer::singleShot(2000, this, &Table::startDevices);  // should the panel never paint
    connect(&inputs_, &Inputs::devicesChanged, this, &Table::changed);
    // A new round, every seat armed; unlike reset(), the seats' pictures are
    // not read again: they were just loaded with the kits.
    round_.reset();
    emit changed();
    return true;
}

bool Table::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_.get() && event->type() == QEvent::Paint) {
        panel_->removeEventFilter(this);
        QTimer::singleShot(0, this, &Table::startDevices);
    }
    return false;
}

void Table::startDevices() {
    if (devicesStarted_) return;
    devicesStarted_ = true;
    for (auto& seat : seats_) keepSoundWarm(seat->SetDlg().Text1[2]);
    inputs_.start();
    emit changed();
}

int Table::seatOf(const QString& binding) const {
    for (size_t i = 0; i < config_.seats.size(); ++i)
        if (config_.seats[i].inputs.contains(binding)) return int(i);
    return -1;
}

void Table::onInput(const QString& binding, qint64 timeUs) {
    if (learning_ >= 0) {
        for (SeatConfig& seat : config_.seats) seat.inputs.removeAll(binding);
        config_.seats[size_t(learning_)].inputs << binding;
        learning_ = -1;
        bindingsChanged_ = true;
        emit changed();
        return;
    }
    const int seat = seatOf(binding);
    if (seat >= 0) press(seat, timeUs);
}

void Table::press(int seat, int64_t timeUs) {
    const int64_t now = monotonicUs();
    round_.setWindowUs(adjudicationWindowUs());
    // apply() tells the panel when the press decided something; a press held
    // for the window, or from a seat that may not press, changes nothing it
    // shows, and redrawing it costs the UI thread half a millisecond a press.
    apply(round_.press(seat, timeUs < 0 ? now : timeUs, now));
    scheduleSettle();
}

void Table::apply(const std::vector<Press>& decided) {
    if (std::any_of(decided.begin(), decided.end(), [](const Press& p) { return p.rank > 0; })) litAtUs_ = monotonicUs();
    // The sound first: nothing stands between the decision and the play command.
    for (const Press& p : decided) {
        if (p.rank == 0) continue;
        frmBase& base = seats_[size_t(p.seat)]->Base();
        base.PressNow();
        if (round_.mode() == Lockout::Order) base.setRank(p.rank);
    }
    if (!decided.empty()) emit changed();
}

void Table::scheduleSettle() {
    const int64_t at = round_.settleAtUs();
    if (at < 0) return settleTimer_.stop();
    // Whole milliseconds, rounded down: a timer that fires early finds nothing
    // due and is set again for the rest, so the decision is not up to a
    // millisecond late.
    settleTimer_.start(int(std::max<int64_t>(0, (at - monotonicUs()) / 1000)));
}

void Table::reset() {
    settleTimer_.stop();
    learning_ = -1;
    round_.reset();
    // A phone that left during the last question gives its seat up now.
    if (phones_) phones_->releaseDisconnected();
    for (auto& seat : seats_) {
        StopMciSound(seat->channel());
        seat->Base().setLockedOut(false);
        seat->Base().setRank(0);
        seat->Base().PressReset();
    }
    emit changed();
}

void Table::correct() {
    round_.correct();
    settleTimer_.stop();
    playHostSound(config_.rules.correctSound);
    emit changed();
}

void Table::wrong() {
    const int out = round_.wrong();
    if (out < 0) return;
    settleTimer_.stop();
    for (size_t i = 0; i < seats_.size(); ++i) {
        frmBase& base = seats_[i]->Base();
        if (int(i) != out && !base.Pressed()) continue;
        StopMciSound(seats_[i]->channel());
        base.PressReset();
        base.setRank(0);
        if (int(i) == out) base.setLockedOut(true);
    }
    playHostSound(config_.rules.wrongSound);
    emit changed();
}

void Table::learn(int seat) {
    learning_ = seat >= 0 && seat < seats() ? seat : -1;
    emit changed();
}

void Table::playHostSound(const QString& path) {
    if (!path.isEmpty()) PlayMciSound(resolvePath(path_, path), HostChannel, false, 0);
}

bool Table::setPhones(bool on, bool loopbackOnly) {
    if (!on) {
        if (phones_) phones_->stop();
        emit changed();
        return true;
    }
    if (!phones_) {
        phones_ = std::make_unique<phones::PhoneServer>();
        connect(phones_.get(), &phones::PhoneServer::pressed, this, [this](int seat, qint64 timeUs) {
            if (seat >= 0 && seat < seats()) press(seat, timeUs);
        });
        connect(phones_.get(), &phones::PhoneServer::statusChanged, this, &Table::changed);
    }
    // Each phone's button takes its seat's colour: the lit picture's average.
    seatColours_.clear();
    for (auto& seat : seats_) {
        const QImage lit = LoadPicture(seat->SetDlg().Text1[1]->text());
        const QColor colour = lit.isNull() ? QColor(0xC0, 0, 0) : lit.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
        seatColours_.push_back(colour.name());
    }
    const bool started = phones_->start(loopbackOnly);
    if (started) {
        std::printf("%s\n", qPrintable(phones_->address()));
        std::fflush(stdout);
    }
    emit changed();
    return started;
}

int64_t Table::adjudicationWindowUs() const {
    if (!phones_ || !phones_->running()) return 0;
    const std::vector<phones::PhoneStatus> status = phones_->status();
    int64_t slowest = -1;
    for (size_t i = 0; i < status.size() && int(i) < round_.seats(); ++i)
        if (status[i].connected && round_.state(int(i)) == SeatState::Armed)
            // A phone not yet measured (it has just come back) gets the longest wait.
            slowest = std::max(slowest, status[i].oneWayUs < 0 ? phones::MaxWindowUs : status[i].oneWayUs);
    return slowest < 0 ? 0 : std::min(slowest + 10'000, phones::MaxWindowUs);
}

void Table::showToPhones() {
    if (!phones_ || !phones_->running()) return;
    const auto stateName = [](SeatState state) {
        switch (state) {
        case SeatState::Armed: return QStringLiteral("armed");
        case SeatState::Lit: return QStringLiteral("lit");
        case SeatState::Dark: return QStringLiteral("dark");
        case SeatState::Locked: return QStringLiteral("locked");
        case SeatState::Idle: break;
        }
        return QStringLiteral("idle");
    };
    std::vector<phones::SeatView> views;
    for (int i = 0; i < seats(); ++i) {
        int rank = 0, place = 0;
        for (size_t k = 0; k < round_.order().size(); ++k)
            if (round_.order()[k].seat == i) {
                rank = round_.order()[k].rank;
                place = int(k) + 1;
            }
        views.push_back({config_.seats[size_t(i)].name, seatColours_.at(size_t(i)), stateName(round_.state(i)), rank, place});
    }
    phones_->setSeats(views);
}

bool Table::save() {
    for (size_t i = 0; i < seats_.size(); ++i) config_.seats[i].place = seats_[i]->Base().pos();
    try {
        saveTableFile(path_, config_);
    } catch (const TableFileError& e) {
        desktop().msgBox(QStringLiteral("卓のファイルを保存できませんでした。\r\n") + path_ + QStringLiteral("\r\n") + e.reason(),
                         MsgBoxStyle::OkStop, QStringLiteral("保存エラー"));
        return false;
    }
    bindingsChanged_ = false;
    return true;
}

// Changed: the settings differ from what the seat opened with, and from its
// data file as it is on disk now (the kit, or the file last opened or saved
// for the seat). A kit naming a missing picture opens without it and is not
// "changed" for that alone.
bool Table::kitChanged(size_t seat) {
    const SettingsRecord now = DataFileCommands::CurrentSettings(*seats_[seat]);
    if (now == opened_[seat]) return false;
    const QString& file = seats_[seat]->CurrentFileName;
    if (file.isEmpty()) return true;
    try {
        const std::optional<SettingsRecord> onDisk = decodeRecord(readDataFile(file));
        return !onDisk || now != *onDisk;
    } catch (const DataFileError&) {
        return true;
    }
}

bool Table::exit() {
    if (exiting_) return true;
    if (bindingsChanged_) {
        switch (desktop().msgBox(QStringLiteral("ブザーの割り当てが変わっています。卓のファイルに保存しますか？"),
                                 MsgBoxStyle::YesNoCancelQuestion, QStringLiteral("保存確認"))) {
        case MsgBoxResult::Yes:
            if (!save()) return false;
            break;
        case MsgBoxResult::No: break;
        default: return false;
        }
    }
    // Each seat whose kit changed is offered for saving, as the one-button
    // program offers its settings: Cancel, or a save cancelled or failed,
    // keeps the table open.
    for (size_t i = 0; i < seats_.size(); ++i) {
        if (!kitChanged(i)) continue;
        switch (desktop().msgBox(QStringLiteral("「%1」の設定が変わっています。保存しますか？").arg(config_.seats[i].name),
                                 MsgBoxStyle::YesNoCancelQuestion, QStringLiteral("保存確認"))) {
        case MsgBoxResult::Yes:
            seats_[i]->IsSaved = false;
            DataFileCommands::SaveAs(*seats_[i]);
            if (!seats_[i]->IsSaved) return false;
            break;
        case MsgBoxResult::No: break;
        default: return false;
        }
    }
    exiting_ = true;
    if (phones_) phones_->stop();
    for (auto& seat : seats_) CloseMciSound(seat->channel());
    CloseMciSound(HostChannel);
    End();
}

}  // namespace table
