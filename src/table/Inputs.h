#pragma once
// The table's buzzers: keys anywhere in the program, gamepads and joysticks
// through SDL on a thread of their own, MIDI note-ons through the ALSA
// sequencer. Every input reaches the UI thread as inputPressed(binding, time),
// the binding in its canonical written form ("key:1", "gamepad:0:button:3",
// "midi:10:note:36") and the time on the monotonic clock of InputClock.h.
#include "table/InputClock.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace table {

// The bindings a MIDI message presses: a note-on with a velocity gives its
// note on any channel and on its own channel; anything else gives none.
QStringList midiBindings(const std::vector<unsigned char>& message);

// A key event's binding ("key:1"), or an empty string for a key with modifiers.
QString keyBinding(int key, Qt::KeyboardModifiers modifiers);

class GamepadThread;
class MidiInputs;

class Inputs : public QObject {
    Q_OBJECT
public:
    explicit Inputs(QObject* parent = nullptr);
    ~Inputs() override;

    // Decides which keys the table takes for itself (bound, or being
    // learnt); all others go on to the focused window as usual.
    void setKeyFilter(std::function<bool(const QString&)> takes) { takesKey_ = std::move(takes); }
    // Takes the bound keys from here on.
    void startKeys();
    // startKeys(), and opens the gamepads and MIDI ports. Without SDL joystick
    // support or an ALSA sequencer the table still runs; the status says what
    // is missing.
    void start();
    bool devicesStarted() const { return midi_ != nullptr; }
    bool gamepadsAvailable() const;
    bool midiAvailable() const;
    // The connected gamepads and joysticks, as "gamepad:0" or "joystick:1",
    // with their names.
    QStringList devices() const { return devices_; }

signals:
    void inputPressed(const QString& binding, qint64 timeUs);
    void devicesChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class GamepadThread;
    void setDevices(const QStringList& devices);

    std::function<bool(const QString&)> takesKey_;
    std::unique_ptr<GamepadThread> gamepads_;
    std::unique_ptr<MidiInputs> midi_;
    QStringList devices_;
    bool filterInstalled_ = false;
    ClockMap keyClock_;
};

}  // namespace table
