// The window offscreen: every control against the layout, focus and tab
// order, and the whole flow with "COM 2" a pseudo-terminal.

#include "fakes.h"
#include "far_end_pty.h"
#include "messages.h"
#include "relay_window.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

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
    void controlsAsLaidOut_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry"); // pixels, in the parent
        QTest::addColumn<bool>("shown");
        const auto row = [](const char* name, const char* parent, const char* text, QRect r,
                            bool shown = true) {
            QTest::newRow(name) << name << parent << QString::fromUtf8(text) << r << shown;
        };
        row("Picture1", "Form1", "", {16, 16, 89, 425});
        row("Frame1", "Form1", "C-Control II --> Relais 1-16", {136, 16, 337, 193});
        row("Command3", "Frame1", "Relais-1", {32, 24, 57, 33});
        row("Command6", "Frame1", "Relais-4", {32, 144, 57, 33});
        row("Command7", "Frame1", "Relais-5", {104, 24, 57, 33});
        row("Command14", "Frame1", "Relais-12", {176, 144, 57, 33});
        row("Command17", "Frame1", "Relais-15", {248, 104, 57, 33});
        row("Command18", "Frame1", "Relais-16", {248, 144, 57, 33});
        row("Combo1", "Form1", "COM Auswahl", {136, 224, 105, 21});
        row("Command19", "Form1", "Start/Stop", {248, 224, 73, 25});
        row("Command1", "Form1", "Beenden", {400, 224, 73, 25});
        row("Label1", "Form1", "Label1", {272, 280, 105, 33}, false);
        row("Label2", "Form1", "Label2", {272, 328, 105, 33}, false);
        row("Command2", "Form1", "Testen", {264, 376, 121, 41}, false);
    }
    void controlsAsLaidOut() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        QFETCH(bool, shown);
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

    // What assistive technology gets of each control.
    void accessibleControls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("accessibleName");
        QTest::addColumn<bool>("checkable");
        QTest::addColumn<bool>("reachable"); // a child of the window's interface
        QTest::addColumn<bool>("pressable"); // can be pressed or toggled
        const int button = QAccessible::Button;
        const int toggle = QAccessible::CheckBox;
        // Relays sit in the frame, not directly in the window.
        QTest::newRow("relay") << "Command5" << toggle << "Relais-3" << true << false << true;
        QTest::newRow("Start/Stop")
            << "Command19" << toggle << "Start/Stop" << true << true << true;
        QTest::newRow("Beenden") << "Command1" << button << "Beenden" << false << true << true;
        QTest::newRow("logo") << "Picture1" << int(QAccessible::Graphic) << "Logo Korvander"
                              << false << true << false;
        QTest::newRow("Testen") << "Command2" << button << "Testen" << false << false << false;
        QTest::newRow("Label1") << "Label1" << int(QAccessible::StaticText) << "Label1" << false
                                << false << false;
    }
    void accessibleControls() {
        QFETCH(QString, name);
        QFETCH(int, role);
        QFETCH(QString, accessibleName);
        QFETCH(bool, checkable);
        QFETCH(bool, reachable);
        QFETCH(bool, pressable);
        Rig r;
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&r.window);
        QAccessibleInterface* control =
            QAccessible::queryAccessibleInterface(r.window.findChild<QWidget*>(name));
        QVERIFY(window && control);
        QCOMPARE(int(control->role()), role);
        QCOMPARE(control->text(QAccessible::Name), accessibleName);
        QCOMPARE(bool(control->state().checkable), checkable);
        QVERIFY(!control->state().checked);
        QCOMPARE(window->indexOfChild(control) >= 0, reachable);
        const QStringList actions =
            control->actionInterface() ? control->actionInterface()->actionNames() : QStringList();
        QCOMPARE(actions.contains(QAccessibleActionInterface::pressAction()) ||
                     actions.contains(QAccessibleActionInterface::toggleAction()),
                 pressable);
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
        r.pty.closeMaster(); // the line goes: the link stops
        QTRY_COMPARE(r.messages.texts.size(), 1);
        note();
        QCOMPARE(seen, QStringList({"Command5", "Command5,Command6", "Command5",
                                    "Command5,Command18", "Command5,Command7,Command18",
                                    "Command5,Command7,Command18,Command19",
                                    "Command5,Command7,Command18"}));
        QCOMPARE(
            QAccessible::queryAccessibleInterface(r.startStop())->text(QAccessible::Description),
            QStringLiteral("Verbindung gestoppt"));
    }

    void relayButtonFace() {
        Rig r;
        auto* button = r.get<GraphicalButton>("Command5");
        r.click("Command5");
        QCOMPARE(button->backColor(), kGreen);
        QCOMPARE(button->accessibleDescription(), QStringLiteral("eingeschaltet"));
        const QImage face = button->grab().toImage(); // flat green, checked or not
        QCOMPARE(face.pixelColor(face.width() / 2, 4), QColor(0, 255, 0));
        QCOMPARE(face.pixelColor(face.width() / 2, face.height() - 5), QColor(0, 255, 0));
    }

    void messageBoxClosesByKey_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
    }
    void messageBoxClosesByKey() {
        QFETCH(int, key);
        QWidget parent;
        BoxMessages boxes(parent);
        QTimer::singleShot(
            0, [key] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key(key)); });
        boxes.showMessage(messages::kPortInUse, messages::kTitle); // returns once closed
    }

    void noMaximizeButton() {
        Rig r;
        QVERIFY(!(r.window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(r.window.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(r.window.windowFlags() & Qt::WindowCloseButtonHint);
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
        QCOMPARE(r.get<QLabel>("Label1")->text(), QStringLiteral("4"));
        QCOMPARE(r.get<QLabel>("Label2")->text(), QStringLiteral("1"));
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

    void lostLineStopsTheLink() {
        Rig r;
        r.chooseCom2();
        r.click("Command19");
        QSignalSpy lost(&r.window.serial(), &QtSerialControl::lineLost);
        r.pty.closeMaster();
        QVERIFY(lost.wait(5000));
        QTRY_COMPARE(r.messages.texts.size(), 1); // the running timer meets the loss
        QCOMPARE(r.messages.texts[0],
                 QStringLiteral("Korvander: ") + messages::kLineLost +
                     QStringLiteral("\n%1: Input/output error").arg(r.pty.path()));
        QTest::qWait(300);
        QCOMPARE(r.messages.texts.size(), 1); // once per loss
        QVERIFY(r.stopped());
    }
};

QTEST_MAIN(TestRelayWindow)
#include "test_relay_window.moc"
