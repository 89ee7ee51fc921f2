// The window offscreen: every control against the layout and as assistive
// technology gets it, focus, keys and tab order, and the whole flow with
// "COM 2" a pseudo-terminal.

#include "fake_clock.h"
#include "fakes.h"
#include "far_end_pty.h"
#include "messages.h"
#include "relay_command.h"
#include "relay_window.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolTip>

using namespace relais;

namespace {

struct Rig {
    Pty pty;
    FixedPortResolver resolver{{{2, pty.path()}}};
    FakeMessages messages;
    RelayWindow window{resolver, &messages};

    Rig() {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
    template <class T = QWidget> T* get(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }
    PortComboBox* portList() { return get<PortComboBox>("Combo1"); }
    GraphicalButton* startStop() { return get<GraphicalButton>("Command19"); }
    QTimer* timer() { return get<QTimer>("Timer1"); }
    void click(const char* name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
    void chooseCom2() {
        portList()->setFocus();
        QTest::keyClick(portList(), Qt::Key_Down); // "COM 1"
        QTest::keyClick(portList(), Qt::Key_Down); // "COM 2"
    }
    bool stopped() {
        return !window.serial().isOpen() && !timer()->isActive() && portList()->isEnabled() &&
               startStop()->backColor() == kButtonFace;
    }
};

} // namespace

class TestRelayWindow : public QObject {
    Q_OBJECT

private slots:
    // Every control: where it sits, what it shows, and what assistive
    // technology gets of it (role, name, whether the window offers it, and
    // whether it can be pressed or toggled).
    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry"); // pixels, in the parent
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("accessibleName");
        QTest::addColumn<bool>("pressable");
        const auto row = [](const char* name, const char* parent, const char* text, QRect r,
                            bool shown, QAccessible::Role role, const char* accessibleName,
                            bool pressable) {
            QTest::newRow(name) << name << parent << QString::fromUtf8(text) << r << shown
                                << int(role) << QString::fromUtf8(accessibleName) << pressable;
        };
        const auto toggle = QAccessible::CheckBox;
        const auto button = QAccessible::Button;
        row("Picture1", "Form1", "", {16, 16, 89, 425}, true, QAccessible::Graphic,
            "Logo Korvander", false);
        row("Frame1", "Form1", "C-Control II --> Relais 1-16", {136, 16, 337, 193}, true,
            QAccessible::Grouping, "C-Control II, Relais 1 bis 16", false);
        row("Command3", "Frame1", "Relais-1", {32, 24, 57, 33}, true, toggle, "Relais-1", true);
        row("Command6", "Frame1", "Relais-4", {32, 144, 57, 33}, true, toggle, "Relais-4", true);
        row("Command7", "Frame1", "Relais-5", {104, 24, 57, 33}, true, toggle, "Relais-5", true);
        row("Command18", "Frame1", "Relais-16", {248, 144, 57, 33}, true, toggle, "Relais-16",
            true);
        row("Combo1", "Form1", "COM Auswahl", {136, 224, 105, 21}, true, QAccessible::ComboBox,
            "COM Auswahl", true);
        row("Command19", "Form1", "Start/Stop", {248, 224, 73, 25}, true, toggle, "Start/Stop",
            true);
        row("Command1", "Form1", "Beenden", {400, 224, 73, 25}, true, button, "Beenden", true);
        // Hidden for good: out of reach of assistive technology, and inert.
        row("Label1", "Form1", "Label1", {272, 280, 105, 33}, false, QAccessible::StaticText,
            "Label1", false);
        row("Command2", "Form1", "Testen", {264, 376, 121, 41}, false, button, "Testen", false);
    }
    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        QFETCH(bool, shown);
        QFETCH(int, role);
        QFETCH(QString, accessibleName);
        QFETCH(bool, pressable);
        Rig r;
        QWidget* w = r.window.findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->isVisible(), shown);
        QString shownText;
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            shownText = b->text();
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            shownText = g->title();
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            shownText = c->currentText();
        } else if (auto* l = qobject_cast<QLabel*>(w); l && l->pixmap().isNull()) {
            shownText = l->text();
        }
        QCOMPARE(shownText, text);
        if (auto* b = dynamic_cast<ColorButton*>(w)) {
            QCOMPARE(b->backColor(), kButtonFace);
        }

        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(w);
        QCOMPARE(int(control->role()), role);
        QCOMPARE(control->text(QAccessible::Name), accessibleName);
        QCOMPARE(bool(control->state().checkable), role == QAccessible::CheckBox);
        QVERIFY(!control->state().checked);
        QCOMPARE(control->parent()->indexOfChild(control) >= 0, shown);
        const QStringList actions =
            control->actionInterface() ? control->actionInterface()->actionNames() : QStringList();
        QCOMPARE(actions.contains(QAccessibleActionInterface::pressAction()) ||
                     actions.contains(QAccessibleActionInterface::toggleAction()),
                 pressable);
    }

    void windowAtStart() {
        Rig r;
        QCOMPARE(r.window.objectName(), QStringLiteral("Form1"));
        QCOMPARE(r.window.windowTitle(), QStringLiteral("Relaiskarte 16 von Korvander"));
        QCOMPARE(r.window.size(), QSize(506, 460));
        QCOMPARE(r.window.minimumSize(), r.window.maximumSize());
        QCOMPARE(QApplication::focusWidget(), r.get("Command1"));
        QVERIFY(r.stopped());
        QCOMPARE(r.timer()->interval(), 100);
        QCOMPARE(r.timer()->timerType(), Qt::PreciseTimer);
        QCOMPARE(r.portList()->chosenIndex(), -1);
        QCOMPARE(r.portList()->count(), 8);
        QCOMPARE(r.portList()->itemText(7), QStringLiteral("COM 8"));
        r.portList()->showPopup();
        r.portList()->hidePopup();
        QCOMPARE(r.portList()->itemData(1, Qt::ToolTipRole).toString(), r.pty.path());
        QCOMPARE(r.portList()->itemData(0, Qt::ToolTipRole).toString(), messages::kNoDevice);

        // The picture keeps its own size; the narrower box clips it.
        auto* picture = r.get<QLabel>("Picture1");
        QCOMPARE(picture->pixmap().size(), QSize(93, 422));
        QVERIFY(!picture->hasScaledContents());
        QCOMPARE(picture->alignment(), Qt::AlignLeft | Qt::AlignTop);
        const QList<QSize> icons = r.window.windowIcon().availableSizes();
        QVERIFY(icons.contains(QSize(16, 16)) && icons.contains(QSize(32, 32)));
    }

    void tabOrder() {
        Rig r;
        const QStringList expected = {"Command6",  "Command5",  "Command4",  "Command3",
                                      "Command7",  "Command8",  "Command9",  "Command10",
                                      "Command11", "Command12", "Command13", "Command14",
                                      "Command15", "Command16", "Command17", "Command18",
                                      "Picture1",  "Combo1",    "Command19", "Command1"};
        QStringList visited;
        for (int i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* w = QApplication::focusWidget();
            while (w && w->objectName().isEmpty()) { // the combo's edit field
                w = w->parentWidget();
            }
            visited << (w ? w->objectName() : QStringLiteral("?"));
        }
        QCOMPARE(visited, expected);

        // While the link runs the disabled port list is skipped.
        r.chooseCom2();
        r.click("Command19");
        r.get("Picture1")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), r.get("Command19"));
    }

    // Whatever changes a relay or the link (click, Return, Enter, a script,
    // an assistive technology's toggle, a lost line), the checked state that
    // assistive technology reads follows the colour. (The events themselves
    // need a platform with accessibility; the test under Xvfb hears them.)
    void checkedStateFollowsTheColour() {
        Rig r;
        const auto checked = [&](const char* name) {
            return bool(QAccessible::queryAccessibleInterface(r.get(name))->state().checked);
        };
        QStringList seen;
        const auto note = [&] {
            QStringList on;
            for (auto* b : r.window.findChildren<GraphicalButton*>()) {
                const bool active = b->backColor() == (b == r.startStop() ? kRed : kGreen);
                QCOMPARE(checked(qPrintable(b->objectName())), active);
                on << (active ? b->objectName() : QString());
            }
            on.removeAll(QString());
            seen << on.join(',');
        };
        r.click("Command5");
        note();
        const QImage face = r.get("Command5")->grab().toImage(); // flat green, though checked
        QCOMPARE(face.pixelColor(face.width() / 2, 4), QColor(0, 255, 0));
        QCOMPARE(face.pixelColor(face.width() / 2, face.height() - 5), QColor(0, 255, 0));
        r.get("Command6")->setFocus();
        QTest::keyClick(r.get("Command6"), Qt::Key_Return); // Return presses the focused button
        note();
        QTest::keyClick(r.get("Command6"), Qt::Key_Enter);
        note();
        r.window.setRelay(16, true);
        note();
        auto* action = QAccessible::queryAccessibleInterface(r.get("Command7"))->actionInterface();
        action->doAction(QAccessibleActionInterface::toggleAction());
        note();
        r.chooseCom2();
        r.startStop()->setFocus();
        QTest::keyClick(r.startStop(), Qt::Key_Return);
        note();
        r.pty.closeMaster(); // the line goes: the link stops, with one message
        QTRY_COMPARE(r.messages.texts.size(), 1);
        QCOMPARE(r.messages.texts[0],
                 QStringLiteral("Korvander: ") + messages::kLineLost +
                     QStringLiteral("\n%1: Input/output error").arg(r.pty.path()));
        QTest::qWait(300);
        QCOMPARE(r.messages.texts.size(), 1);
        QVERIFY(r.stopped());
        note();
        QCOMPARE(seen, QStringList({"Command5", "Command5,Command6", "Command5",
                                    "Command5,Command18", "Command5,Command7,Command18",
                                    "Command5,Command7,Command18,Command19",
                                    "Command5,Command7,Command18"}));
        QCOMPARE(
            QAccessible::queryAccessibleInterface(r.startStop())->text(QAccessible::Description),
            QStringLiteral("Verbindung gestoppt"));
    }

    // A change made in the window says whether the mouse or the keyboard
    // made it, whichever was used before.
    void changesNameTheirInput_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("input"); // 0 mouse, else the key pressed
        QTest::addColumn<QString>("source");
        const QString mouse = QStringLiteral("Fenster (Maus)");
        const QString keyboard = QStringLiteral("Fenster (Tastatur)");
        QTest::newRow("mouse on a relay") << "Command5" << 0 << mouse;
        QTest::newRow("Space on a relay") << "Command5" << int(Qt::Key_Space) << keyboard;
        QTest::newRow("Return on a relay") << "Command12" << int(Qt::Key_Return) << keyboard;
        QTest::newRow("mouse on Start/Stop") << "Command19" << 0 << mouse;
        QTest::newRow("Enter on Start/Stop") << "Command19" << int(Qt::Key_Enter) << keyboard;
    }
    void changesNameTheirInput() {
        QFETCH(QString, button);
        QFETCH(int, input);
        QFETCH(QString, source);
        Rig r;
        r.chooseCom2();
        QList<RelayChange> changes;
        r.window.watch(this, [&](const RelayChange& change) { changes << change; });
        QWidget* target = r.get(qPrintable(button));
        // The other input first, so that a stale note would show.
        if (input == 0) {
            QTest::keyClick(r.get("Command18"), Qt::Key_Space);
        } else {
            QTest::mouseClick(r.get("Command18"), Qt::LeftButton);
        }
        target->setFocus();
        if (input == 0) {
            QTest::mouseClick(target, Qt::LeftButton);
        } else {
            QTest::keyClick(target, Qt::Key(input));
        }
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes[1].source.text(), source);
        QCOMPARE(changes[1].state.revision, changes[0].state.revision + 1);
    }

    // With rules: the relay's name in its accessible description and its
    // tooltip, the time left there while it pulses, and the pulse from the
    // keyboard's context menu. Without rules there is no menu at all.
    void rulesOnTheButtons() {
        Rig r;
        FakeClock clock;
        r.window.core().setClock(&clock);
        QStringList said;
        connect(r.window.findChild<Announcer*>(), &Announcer::announced, this,
                [&](const QString& text) { said << text; });
        RelayRules rules;
        rules.relays[2].name = QStringLiteral("Pumpe");
        rules.relays[2].pulseMs = 2000;
        r.window.setRules(rules);
        auto* pump = r.get<GraphicalButton>("Command5");
        QVERIFY2(pump->accessibleDescription().startsWith(QStringLiteral("Pumpe, ")),
                 qPrintable(pump->accessibleDescription()));
        r.chooseCom2();
        r.click("Command19");
        QVERIFY(r.window.isRunning());
        pump->setFocus();
        QTimer::singleShot(0, this, [] {
            QWidget* menu = QApplication::activePopupWidget();
            QVERIFY(menu != nullptr);
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QContextMenuEvent fromKeyboard(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                       pump->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(pump, &fromKeyboard);
        QCOMPARE(r.window.relays() & 4, 4);
        QVERIFY(r.window.core().offAt(3).has_value());
        QHelpEvent tip(QEvent::ToolTip, QPoint(5, 5), pump->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(pump, &tip);
        QCOMPARE(QToolTip::text(), QStringLiteral("Pumpe, aus in 2 s"));
        clock.advance(2000); // the pulse ends: heard with its cause
        QCOMPARE(r.window.relays() & 4, 0);
        QCOMPARE(said.last(), QStringLiteral("Relais 3 (Pumpe) ausgeschaltet: Impulsende"));
        // A schedule's change is heard with the schedule's name.
        QVERIFY(!carryOut(r.window, RelayCommand::setRelay(3, true), {},
                          {ChangeSource::Kind::Schedule, QStringLiteral("Abendlicht")}));
        QCOMPARE(said.last(), QStringLiteral("Relais 3 (Pumpe) eingeschaltet: Zeitplan Abendlicht"));
    }

    // What a screen reader is told of changes, whatever made them, once per
    // event: what each change means, and nothing for a change undone at once.
    void announcementsSayWhatChanged() {
        Rig r;
        QStringList said;
        connect(r.window.findChild<Announcer*>(), &Announcer::announced, this,
                [&](const QString& text) { said << text; });
        const auto settle = [] { QCoreApplication::processEvents(); };
        r.window.setRelays(0b111);
        settle();
        r.window.setRelay(2, false);
        r.window.setRelay(2, true); // undone in the same event
        settle();
        r.window.setRelays(0b1001);
        settle();
        r.click("Command18");
        settle();
        r.window.startOn(PortSpec{0, r.pty.path()});
        settle();
        r.window.stop();
        settle();
        QCOMPARE(said, QStringList({"Relais 1, 2 und 3 eingeschaltet",
                                    "Relais 4 eingeschaltet, Relais 2 und 3 ausgeschaltet",
                                    "Relais 16 eingeschaltet", "Verbindung läuft",
                                    "Verbindung gestoppt"}));

        // The port list is named by a label of its own, its value the port.
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(r.portList());
        const auto labels = list->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels[0].first->text(QAccessible::Name), QStringLiteral("Schnittstelle"));
        QCOMPARE(list->text(QAccessible::Value), r.pty.path());
    }

    void typedTextChoosesNoPort() {
        Rig r;
        auto* edit = r.portList()->lineEdit();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("COM 2"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(r.portList()->count(), 8);
        r.click("Command19"); // the edit field loses the focus here
        QCOMPARE(r.portList()->chosenIndex(), -1);
        QVERIFY(r.stopped());
        QVERIFY(r.messages.texts.isEmpty());

        // A choice from the list picks, typing over it un-picks again.
        QTest::keyClick(r.portList(), Qt::Key_Down);
        QCOMPARE(r.portList()->chosenIndex(), r.portList()->currentIndex());
        QVERIFY(r.portList()->chosenIndex() >= 0);
        QTest::keyClicks(edit, QStringLiteral("x"));
        QCOMPARE(r.portList()->chosenIndex(), -1);
    }

    void wholeFlowOnCom2() {
        Rig r;
        for (int i = 0; i < 5; ++i) {
            r.click("Command19"); // no port chosen: nothing happens
        }
        r.chooseCom2();
        QCOMPARE(r.portList()->currentText(), QStringLiteral("COM 2"));
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(r.portList());
        QCOMPARE(list->text(QAccessible::Value), QStringLiteral("COM 2")); // what is chosen
        QCOMPARE(r.pty.readAvailable(), QByteArray()); // choosing alone does nothing
        QVERIFY(r.stopped());

        r.click("Command5"); // "Relais-3"
        r.click("Command19");
        QVERIFY(r.window.serial().isOpen() && r.timer()->isActive());
        QCOMPARE(r.startStop()->backColor(), kRed);
        QVERIFY(!r.portList()->isEnabled());

        r.window.tick();
        QCOMPARE(r.pty.readExactly(5), QByteArray("00004"));
        QTest::qWait(250); // the timer keeps sending the same pattern
        const QByteArray repeated = r.pty.readAvailable();
        QCOMPARE(repeated, QByteArray("00004").repeated(repeated.size() / 5));

        r.click("Command18"); // "Relais-16"
        r.window.tick();
        QCOMPARE(r.pty.readExactly(5), QByteArray("32772"));

        r.click("Command19"); // stop
        QVERIFY(r.stopped());
        QCOMPARE(r.window.link().clickCount(), 1);
        r.pty.readAvailable();
        QTest::qWait(300);
        QCOMPARE(r.pty.readAvailable(), QByteArray());

        r.click("Command19"); // start again, then "Beenden" while running
        r.window.tick();
        QCOMPARE(r.pty.readExactly(5), QByteArray("32772"));
        r.click("Command1");
        QVERIFY(!r.window.isVisible());
        QVERIFY(!r.window.serial().isOpen() && !r.timer()->isActive());
        r.pty.readAvailable();
        QTest::qWait(300);
        QCOMPARE(r.pty.readAvailable(), QByteArray());
        QVERIFY(r.messages.texts.isEmpty());
    }
};

QTEST_MAIN(TestRelayWindow)
#include "test_relay_window.moc"
