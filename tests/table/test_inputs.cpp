// Buzzers: MIDI and key decoding, keys taken application-wide but never from
// a dialog, and SDL virtual gamepads pressing, plugged and unplugged while the
// input thread runs.
#include "table/InputClock.h"
#include "table/Inputs.h"

#include <QtTest>
#include <QDialog>
#include <QWidget>

#include <SDL.h>

using namespace table;

class TestInputs : public QObject {
    Q_OBJECT
private slots:
    void midi_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QStringList>("bindings");
        QTest::newRow("note-on, channel 10") << QByteArray::fromHex("992464") << QStringList{"midi:note:36", "midi:10:note:36"};
        QTest::newRow("note-on, channel 1") << QByteArray::fromHex("903C01") << QStringList{"midi:note:60", "midi:1:note:60"};
        QTest::newRow("velocity 0 is a release") << QByteArray::fromHex("903C00") << QStringList{};
        QTest::newRow("note-off") << QByteArray::fromHex("803C40") << QStringList{};
        QTest::newRow("control change") << QByteArray::fromHex("B04040") << QStringList{};
        QTest::newRow("cut short") << QByteArray::fromHex("903C") << QStringList{};
    }
    void midi() {
        QFETCH(QByteArray, message);
        QTEST(midiBindings(std::vector<unsigned char>(message.begin(), message.end())), "bindings");
    }

    void keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("binding");
        QTest::newRow("digit") << int(Qt::Key_1) << 0 << "key:1";
        QTest::newRow("keypad digit") << int(Qt::Key_1) << int(Qt::KeypadModifier) << "key:1";
        QTest::newRow("letter") << int(Qt::Key_Q) << 0 << "key:Q";
        QTest::newRow("with Ctrl") << int(Qt::Key_Q) << int(Qt::ControlModifier) << "";
        QTest::newRow("Shift alone") << int(Qt::Key_Shift) << 0 << "";
    }
    void keys() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QTEST(keyBinding(key, Qt::KeyboardModifiers(modifiers)), "binding");
    }

    void clockMapsOntoTheEarliestDelivery() {
        ClockMap map;
        QCOMPARE(map.map(1000, 50'000), 50'000);   // first event: its receipt
        QCOMPARE(map.map(2000, 50'500), 50'500);   // delivered faster: the offset shrinks
        QCOMPARE(map.map(3000, 52'000), 51'500);   // delivered late: its own time counts
        QCOMPARE(map.map(4000, 90'000'000), 90'000'000);  // the source's clock jumped: learnt anew
    }

    // Bound keys press seats whichever window has the focus, once per press;
    // other keys, repeats and keys typed in a dialog go on as usual.
    void keysAreTakenApplicationWide() {
        Inputs inputs;
        inputs.setKeyFilter([](const QString& b) { return b == u"key:1" || b == u"key:2"; });
        inputs.start();
        QSignalSpy pressed(&inputs, &Inputs::inputPressed);
        QWidget a, b;
        a.show(), b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        for (const auto& [window, key] : {std::pair{&a, Qt::Key_1}, {&b, Qt::Key_2}, {&b, Qt::Key_3}}) QTest::keyClick(window, key);
        QTest::keyEvent(QTest::Press, &b, Qt::Key_1, Qt::NoModifier, -1);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(&b, &repeat);
        QCOMPARE(pressed.size(), 3);
        QCOMPARE(QStringList({pressed[0][0].toString(), pressed[1][0].toString()}), QStringList({"key:1", "key:2"}));
        QVERIFY(pressed[1][1].toLongLong() <= monotonicUs());

        QDialog dialog;
        dialog.setModal(true);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_1);
        QCOMPARE(pressed.size(), 3);
    }

    // Virtual gamepads and joysticks stand in for real ones: SDL treats them
    // as it treats a device plugged in.
    void gamepadsPressPlugAndUnplug() {
        Inputs inputs;
        inputs.start();
        QVERIFY(inputs.gamepadsAvailable());
        QSignalSpy pressed(&inputs, &Inputs::inputPressed);
        const int pad = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, SDL_CONTROLLER_BUTTON_MAX, 0);
        const int stick = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 0, 4, 0);
        QVERIFY(pad >= 0 && stick >= 0);
        QTRY_COMPARE(inputs.devices().size(), 2);
        QVERIFY2(inputs.devices()[0].startsWith(u"gamepad:0 "), qPrintable(inputs.devices().join(u'|')));
        QVERIFY2(inputs.devices()[1].startsWith(u"joystick:1 "), qPrintable(inputs.devices().join(u'|')));

        const auto pressButton = [](int index, int button) {
            SDL_Joystick* j = SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(index));
            QVERIFY(j);
            SDL_JoystickSetVirtualButton(j, button, SDL_PRESSED);
            QTest::qWait(30);
            SDL_JoystickSetVirtualButton(j, button, SDL_RELEASED);
        };
        pressButton(pad, SDL_CONTROLLER_BUTTON_B);
        QTRY_COMPARE(pressed.size(), 1);
        pressButton(stick, 3);
        QTRY_COMPARE(pressed.size(), 2);
        QCOMPARE(pressed[0][0].toString(), QStringLiteral("gamepad:0:button:1"));
        QCOMPARE(pressed[1][0].toString(), QStringLiteral("joystick:1:button:3"));

        QVERIFY(SDL_JoystickDetachVirtual(pad) == 0);
        QTRY_COMPARE(inputs.devices().size(), 1);
        QVERIFY(inputs.devices()[0].startsWith(u"joystick:1 "));
    }
};

QTEST_MAIN(TestInputs)
#include "test_inputs.moc"
