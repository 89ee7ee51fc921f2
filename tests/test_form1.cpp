// The window offscreen: every control against the layout, focus and tab
// order, and the whole flow with "COM 2" a pseudo-terminal.

#include "fakes.h"
#include "far_end_pty.h"
#include "form1.h"
#include "messages.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace relais;

namespace {

struct Rig {
    Pty pty;
    FixedPortResolver resolver{{{2, pty.path()}}};
    FakeMessages messages;
    Form1 form{resolver, &messages};

    template <class T = QWidget> T* get(const char* name) {
        return form.findChild<T*>(QString::fromLatin1(name));
    }
    void click(const char* name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
    void startOnCom2() {
        get("Combo1")->setFocus();
        QTest::keyClick(get("Combo1"), Qt::Key_Down); // "COM 1"
        QTest::keyClick(get("Combo1"), Qt::Key_Down); // "COM 2"
        click("Command19");
    }
    void show() {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
};

} // namespace

class TestForm1 : public QObject {
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
        row("Command4", "Frame1", "Relais-2", {32, 64, 57, 33});
        row("Command5", "Frame1", "Relais-3", {32, 104, 57, 33});
        row("Command6", "Frame1", "Relais-4", {32, 144, 57, 33});
        row("Command7", "Frame1", "Relais-5", {104, 24, 57, 33});
        row("Command10", "Frame1", "Relais-8", {104, 144, 57, 33});
        row("Command11", "Frame1", "Relais-9", {176, 24, 57, 33});
        row("Command14", "Frame1", "Relais-12", {176, 144, 57, 33});
        row("Command15", "Frame1", "Relais-13", {248, 24, 57, 33});
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
        r.show();
        QWidget* w = r.form.findChild<QWidget*>(name);
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
            QCOMPARE(b->BackColor(), kButtonFace);
        }
    }

    void windowAtStart() {
        Rig r;
        r.show();
        QCOMPARE(r.form.windowTitle(), QStringLiteral("Relaiskarte 16 von Korvander"));
        QCOMPARE(r.form.windowTitle().size(), 28);
        QCOMPARE(r.form.size(), QSize(506, 460));
        QCOMPARE(r.form.minimumSize(), r.form.maximumSize());
        QCOMPARE(QApplication::focusWidget(), r.get("Command1"));
        QVERIFY(!r.get<QTimer>("Timer1")->isActive());
        QCOMPARE(r.get<QTimer>("Timer1")->interval(), 100);
        QCOMPARE(r.get<QTimer>("Timer1")->timerType(), Qt::PreciseTimer);
        auto* combo = r.get<PortComboBox>("Combo1");
        QCOMPARE(combo->ListIndex(), -1);
        QVERIFY(combo->isEnabled());
        QCOMPARE(combo->count(), 8);
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(combo->itemText(i), QStringLiteral("COM %1").arg(i + 1));
        }
        combo->showPopup();
        combo->hidePopup();
        QCOMPARE(combo->itemData(1, Qt::ToolTipRole).toString(), r.pty.path());
        QCOMPARE(combo->itemData(0, Qt::ToolTipRole).toString(), messages::kNoDevice);
        QVERIFY(!r.form.comm().PortOpen());

        // The picture keeps its own size; the narrower box clips it.
        auto* picture = r.get<QLabel>("Picture1");
        QCOMPARE(picture->pixmap().size(), QSize(93, 422));
        QVERIFY(!picture->hasScaledContents());
        QCOMPARE(picture->alignment(), Qt::AlignLeft | Qt::AlignTop);

        const QList<QSize> icons = r.form.windowIcon().availableSizes();
        QVERIFY(icons.contains(QSize(16, 16)) && icons.contains(QSize(32, 32)));
    }

    void tabOrder() {
        Rig r;
        r.show();
        const QStringList expected = {"Command6",  "Command5",  "Command4",  "Command3",
                                      "Command7",  "Command8",  "Command9",  "Command10",
                                      "Command11", "Command12", "Command13", "Command14",
                                      "Command15", "Command16", "Command17", "Command18",
                                      "Picture1",  "Combo1",    "Command19", "Command1"};
        QStringList visited;
        for (int i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* w = QApplication::focusWidget();
            // The combo's edit field holds the focus for the combo.
            while (w && w->objectName().isEmpty()) {
                w = w->parentWidget();
            }
            visited << (w ? w->objectName() : QStringLiteral("?"));
        }
        QCOMPARE(visited, expected);

        // While the link runs the disabled port list is skipped.
        r.startOnCom2();
        r.get("Picture1")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), r.get("Command19"));
    }

    void relayButtonShowsAndTellsItsState() {
        Rig r;
        r.show();
        auto* button = r.get<RelayButton>("Command5");
        r.click("Command5");
        QCOMPARE(button->BackColor(), kGreen);
        QCOMPARE(button->accessibleDescription(), QStringLiteral("eingeschaltet"));
        // The face is painted green.
        const QImage face = button->grab().toImage();
        QCOMPARE(face.pixelColor(face.width() / 2, 4), QColor(0, 255, 0));
        r.click("Command5");
        QCOMPARE(button->BackColor(), kButtonFace);
        QCOMPARE(button->accessibleDescription(), QStringLiteral("ausgeschaltet"));
        QVERIFY(!r.form.comm().PortOpen());
    }

    void typedTextChoosesNoPort() {
        Rig r;
        r.show();
        auto* combo = r.get<PortComboBox>("Combo1");
        combo->lineEdit()->setFocus();
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("COM 2"));
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(combo->ListIndex(), -1);
        QCOMPARE(combo->count(), 8);
        r.click("Command19"); // the edit field loses the focus here
        QCOMPARE(combo->ListIndex(), -1);
        QVERIFY(!r.form.comm().PortOpen());
        QVERIFY(r.messages.texts.isEmpty());

        // A choice from the list picks, typing over it un-picks again.
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->ListIndex(), combo->currentIndex());
        QVERIFY(combo->ListIndex() >= 0);
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("x"));
        QCOMPARE(combo->ListIndex(), -1);
    }

    void wholeFlowOnCom2() {
        Rig r;
        r.show();
        for (int i = 0; i < 5; ++i) {
            r.click("Command19"); // no port chosen: nothing happens
        }
        QVERIFY(!r.form.comm().PortOpen());
        auto* combo = r.get<PortComboBox>("Combo1");
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down); // "COM 1"
        QTest::keyClick(combo, Qt::Key_Down); // "COM 2"
        QCOMPARE(combo->ListIndex(), 1);
        QCOMPARE(combo->currentText(), QStringLiteral("COM 2"));
        QCOMPARE(r.pty.readAvailable(), QByteArray()); // choosing alone does nothing
        QVERIFY(!r.form.comm().PortOpen());

        r.click("Command5"); // "Relais-3"
        r.click("Command19");
        QVERIFY(r.form.comm().PortOpen());
        QCOMPARE(r.get<GraphicalButton>("Command19")->BackColor(), kRed);
        QVERIFY(!combo->isEnabled());
        QVERIFY(r.get<QTimer>("Timer1")->isActive());
        const termios line = r.pty.attributes();
        QCOMPARE(int(cfgetospeed(&line)), int(B9600));

        r.form.Timer1_Timer();
        QCOMPARE(r.pty.readExactly(5), QByteArray("00004"));
        QCOMPARE(r.get<QLabel>("Label1")->text(), QStringLiteral("4"));
        QCOMPARE(r.get<QLabel>("Label2")->text(), QStringLiteral("1"));
        QTest::qWait(250); // the timer keeps sending the same pattern
        const QByteArray repeated = r.pty.readAvailable();
        QCOMPARE(repeated, QByteArray("00004").repeated(repeated.size() / 5));

        r.click("Command18"); // "Relais-16"
        r.form.Timer1_Timer();
        QCOMPARE(r.pty.readExactly(5), QByteArray("32772"));

        r.click("Command19"); // stop
        QVERIFY(!r.form.comm().PortOpen());
        QVERIFY(!r.get<QTimer>("Timer1")->isActive());
        QVERIFY(combo->isEnabled());
        QCOMPARE(r.get<GraphicalButton>("Command19")->BackColor(), kButtonFace);
        QCOMPARE(r.form.link().clickCount(), 1);
        r.pty.readAvailable();
        QTest::qWait(300);
        QCOMPARE(r.pty.readAvailable(), QByteArray());

        r.click("Command19"); // start again, then "Beenden" while running
        r.form.Timer1_Timer();
        QCOMPARE(r.pty.readExactly(5), QByteArray("32772"));
        r.click("Command1");
        QVERIFY(!r.form.isVisible());
        QVERIFY(!r.form.comm().PortOpen());
        r.pty.readAvailable();
        QTest::qWait(300);
        QCOMPARE(r.pty.readAvailable(), QByteArray());
        QVERIFY(r.messages.texts.isEmpty());
    }

    void closeRequestUnloadsLikeBeenden() {
        Rig r;
        r.show();
        r.startOnCom2();
        QVERIFY(r.form.comm().PortOpen());
        QVERIFY(r.form.close()); // as the title bar or the window manager asks
        QVERIFY(!r.form.comm().PortOpen());
        QVERIFY(!r.get<QTimer>("Timer1")->isActive());
    }

    void lostLineStopsTheWindowsLink() {
        Rig r;
        r.show();
        r.startOnCom2();
        QSignalSpy lost(&r.form.comm(), &QtSerialControl::lineLost);
        r.pty.closeMaster();
        QVERIFY(lost.wait(5000));
        QTRY_COMPARE(r.messages.texts.size(), 1); // the running timer meets the loss
        QCOMPARE(
            r.messages.texts[0],
            messages::kLineLost +
                QStringLiteral("\n%1: %2").arg(r.pty.path(), QStringLiteral("Input/output error")));
        QTest::qWait(300);
        QCOMPARE(r.messages.texts.size(), 1); // once per loss
        QVERIFY(!r.form.comm().PortOpen());
        QVERIFY(!r.get<QTimer>("Timer1")->isActive());
        QVERIFY(r.get("Combo1")->isEnabled());
        QCOMPARE(r.get<GraphicalButton>("Command19")->BackColor(), kButtonFace);
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
