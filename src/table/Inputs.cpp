#include "table/Inputs.h"

#include "table/InputClock.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMutex>
#include <QThread>
#include <QWidget>

#include <SDL.h>
#include <rtmidi/RtMidi.h>

#include <sys/prctl.h>

#include <map>

namespace table {

QStringList midiBindings(const std::vector<unsigned char>& message) {
    // Note-on with velocity 0 is a note-off by another name.
    if (message.size() < 3 || (message[0] & 0xF0) != 0x90 || message[2] == 0 || message[1] > 127) return {};
    const int note = message[1];
    const int channel = (message[0] & 0x0F) + 1;
    return {QStringLiteral("midi:note:%1").arg(note), QStringLiteral("midi:%1:note:%2").arg(channel).arg(note)};
}

QString keyBinding(int key, Qt::KeyboardModifiers modifiers) {
    // The keypad's digits press the same seats as the row above the letters.
    modifiers &= ~Qt::KeypadModifier;
    if (modifiers != Qt::NoModifier || key == 0 || key == Qt::Key_unknown) return {};
    switch (key) {
    case Qt::Key_Shift: case Qt::Key_Control: case Qt::Key_Alt: case Qt::Key_Meta: case Qt::Key_AltGr:
        return {};
    default: break;
    }
    return QStringLiteral("key:") + QKeySequence(key).toString(QKeySequence::PortableText);
}

// Gamepads and joysticks, read on a thread of their own so that a busy UI
// loop never delays or drops a press.
class GamepadThread : public QThread {
public:
    explicit GamepadThread(Inputs* owner) : owner_(owner) {}
    ~GamepadThread() override {
        requestInterruption();
        wait();
    }
    bool ok = false;

protected:
    void run() override {
        // The default slack lets a quarter-millisecond sleep run on to a third.
        prctl(PR_SET_TIMERSLACK, 1UL);
        while (!isInterruptionRequested()) {
            // SDL reads the devices only when pumped, and stamps events in
            // whole milliseconds: two presses a millisecond apart would come
            // out of one pump with one stamp. Pumping every quarter of a
            // millisecond and timing each event as it comes out tells them
            // apart, for a fraction of a percent of one core.
            SDL_PumpEvents();
            const int64_t received = monotonicUs();
            SDL_Event e;
            if (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) <= 0) {
                QThread::usleep(250);
                continue;
            }
            switch (e.type) {
            case SDL_CONTROLLERDEVICEADDED: openController(e.cdevice.which); break;
            case SDL_JOYDEVICEADDED:
                if (!SDL_IsGameController(e.jdevice.which)) openJoystick(e.jdevice.which);
                break;
            case SDL_CONTROLLERDEVICEREMOVED:
            case SDL_JOYDEVICEREMOVED: close(e.jdevice.which); break;
            case SDL_CONTROLLERBUTTONDOWN: press(e.cbutton.which, true, e.cbutton.button, received); break;
            case SDL_JOYBUTTONDOWN: press(e.jbutton.which, false, e.jbutton.button, received); break;
            default: break;
            }
        }
        for (auto& [id, device] : open_) closeHandle(device);
    }

private:
    struct Device {
        int slot;
        bool gamepad;
        SDL_GameController* controller = nullptr;
        SDL_Joystick* joystick = nullptr;
        QString name;
    };

    int freeSlot() const {
        for (int slot = 0; slot < 16; ++slot) {
            bool used = false;
            for (const auto& [id, d] : open_) used = used || d.slot == slot;
            if (!used) return slot;
        }
        return -1;
    }
    void openController(int index) {
        SDL_GameController* c = SDL_GameControllerOpen(index);
        if (!c) return;
        const SDL_JoystickID id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c));
        if (open_.count(id) || freeSlot() < 0) return SDL_GameControllerClose(c);
        open_[id] = {freeSlot(), true, c, nullptr, QString::fromUtf8(SDL_GameControllerName(c))};
        announce();
    }
    void openJoystick(int index) {
        SDL_Joystick* j = SDL_JoystickOpen(index);
        if (!j) return;
        const SDL_JoystickID id = SDL_JoystickInstanceID(j);
        if (open_.count(id) || freeSlot() < 0) return SDL_JoystickClose(j);
        open_[id] = {freeSlot(), false, nullptr, j, QString::fromUtf8(SDL_JoystickName(j))};
        announce();
    }
    static void closeHandle(Device& d) {
        if (d.controller) SDL_GameControllerClose(d.controller);
        if (d.joystick) SDL_JoystickClose(d.joystick);
    }
    void close(SDL_JoystickID id) {
        auto it = open_.find(id);
        if (it == open_.end()) return;
        closeHandle(it->second);
        open_.erase(it);
        announce();
    }
    void press(SDL_JoystickID id, bool controllerEvent, int button, int64_t time) {
        auto it = open_.find(id);
        // A gamepad also sends raw joystick events: take each device's own kind only.
        if (it == open_.end() || it->second.gamepad != controllerEvent) return;
        const QString binding = QStringLiteral("%1:%2:button:%3")
                                    .arg(controllerEvent ? "gamepad" : "joystick").arg(it->second.slot).arg(button);
        QMetaObject::invokeMethod(owner_, [o = owner_, binding, time] { emit o->inputPressed(binding, time); },
                                  Qt::QueuedConnection);
    }
    void announce() {
        QStringList list;
        for (const auto& [id, d] : open_)
            list << QStringLiteral("%1:%2 %3").arg(d.gamepad ? "gamepad" : "joystick").arg(d.slot).arg(d.name);
        list.sort();
        QMetaObject::invokeMethod(owner_, [o = owner_, list] { o->setDevices(list); }, Qt::QueuedConnection);
    }

    Inputs* owner_;
    std::map<SDL_JoystickID, Device> open_;
};

// Every MIDI input port, each through its own RtMidiIn; RtMidi calls back on
// its own thread.
class MidiInputs {
public:
    explicit MidiInputs(Inputs* owner) : owner_(owner) {
        // Without a sequencer (a build machine, a container) RtMidi would
        // only complain on stderr: there is nothing to open.
        if (!QFile::exists(QStringLiteral("/dev/snd/seq"))) return;
        try {
            RtMidiIn probe(RtMidi::LINUX_ALSA, "Zumble");
            const unsigned ports = probe.getPortCount();
            for (unsigned i = 0; i < ports; ++i) {
                auto in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, "Zumble");
                in->setCallback(&MidiInputs::received, this);
                in->openPort(i, "Zumble buzzer");
                ports_.push_back(std::move(in));
            }
            // A port of our own that pads and pedals can be connected to by hand (aconnect).
            auto own = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, "Zumble");
            own->setCallback(&MidiInputs::received, this);
            own->openVirtualPort("Zumble buzzers");
            ports_.push_back(std::move(own));
            ok = true;
        } catch (const RtMidiError&) {
            ports_.clear();
        }
    }
    bool ok = false;

private:
    static void received(double, std::vector<unsigned char>* message, void* self) {
        const int64_t time = monotonicUs();
        Inputs* owner = static_cast<MidiInputs*>(self)->owner_;
        for (const QString& binding : midiBindings(*message))
            QMetaObject::invokeMethod(owner, [owner, binding, time] { emit owner->inputPressed(binding, time); },
                                      Qt::QueuedConnection);
    }

    Inputs* owner_;
    std::vector<std::unique_ptr<RtMidiIn>> ports_;
};

Inputs::Inputs(QObject* parent) : QObject(parent) {}

Inputs::~Inputs() {
    if (filterInstalled_) qApp->removeEventFilter(this);
    midi_.reset();
    if (gamepads_) {
        gamepads_.reset();
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    }
}

void Inputs::startKeys() {
    if (!filterInstalled_) {
        qApp->installEventFilter(this);
        filterInstalled_ = true;
    }
}

void Inputs::start() {
    startKeys();
    // Gamepads press seats while another program has the focus.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    // As for sound: SDL would turn SIGINT and SIGTERM into quit events nobody
    // reads, and `kill` or a logout could no longer end the table.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (!gamepads_ && SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0) {
        gamepads_ = std::make_unique<GamepadThread>(this);
        gamepads_->start();
    }
    if (!midi_) midi_ = std::make_unique<MidiInputs>(this);
}

bool Inputs::gamepadsAvailable() const { return gamepads_ != nullptr; }
bool Inputs::midiAvailable() const { return midi_ && midi_->ok; }

void Inputs::setDevices(const QStringList& devices) {
    devices_ = devices;
    emit devicesChanged();
}

bool Inputs::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || !takesKey_) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // Typing in a dialog (a file name, a team name) presses nobody.
    if (key->isAutoRepeat() || QApplication::activeModalWidget() || QApplication::activePopupWidget()) return false;
    const QString binding = keyBinding(key->key(), key->modifiers());
    if (binding.isEmpty() || !takesKey_(binding)) return false;
    // The window system's own time of the key, in milliseconds.
    emit inputPressed(binding, keyClock_.map(int64_t(key->timestamp()) * 1000, monotonicUs()));
    return true;
}

}  // namespace table
