// The QSerialPort control against pseudo-terminals: what reaches the far end,
// the line settings, and how an opening or a line fails (other users'
// failures are run through the command line, as nobody).

#include "change_record.h"
#include "fake_clock.h"
#include "fakes.h"
#include "far_end_pty.h"
#include "headless_relays.h"
#include "messages.h"
#include "qt_serial_control.h"
#include "relay_command.h"
#include "relay_contract.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

using namespace relais;

namespace {

int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CommError& e) {
        return e.number();
    }
    return 0;
}

} // namespace

// The core with COM 2 a pty, on a fake clock, for the rules.
struct RuledCore {
    Pty pty;
    FixedPortResolver resolver{{{2, pty.path()}}};
    SystemPorts ports = [this] { return QStringList{QString(), pty.path()}; };
    FakeClock clock;
    HeadlessRelays core{resolver};
    RuledCore() { core.setClock(&clock); }
};

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    // The relay core over plain views: commands reach the line with the next
    // tick, each command is one change for the watchers (with what changed
    // and who made it, the revision one more), a failed start leaves the
    // port known as it was.
    void relayCoreOverPlainViews() {
        Pty pty;
        FixedPortResolver resolver({{2, pty.path()}});
        const SystemPorts ports = [&pty] { return QStringList{QString(), pty.path()}; };
        HeadlessRelays core(resolver);
        int told = 0;
        RelayChange last;
        QObject watcher;
        core.watch(&watcher, [&](const RelayChange& change) {
            ++told;
            last = change;
        });
        const ChangeSource topic{ChangeSource::Kind::Mqtt,
                                 QStringLiteral("relaiskarte/a/relays/set")};
        const auto run = [&](const RelayCommand::Made& made) {
            told = 0;
            return carryOut(core, made, ports, topic);
        };
        QVERIFY(!run(RelayCommand::setAll(0x8005)));
        QCOMPARE(told, 1);
        QCOMPARE(core.relays(), quint16(0x8005));
        QCOMPARE(last.flipped, quint16(0x8005));
        QCOMPARE(last.state.revision, quint64(2));
        QCOMPARE(last.source.text(), QStringLiteral("MQTT relaiskarte/a/relays/set"));
        QVERIFY(!last.linkChanged && !last.portChanged);
        QVERIFY(!run(RelayCommand::setAll(0x8005))); // nothing new: nobody is told
        QCOMPARE(told, 0);
        QCOMPARE(core.state().revision, quint64(2));
        const auto missing = run(RelayCommand::start(QStringLiteral("COM 3"), false));
        QVERIFY(missing && missing->kind == Refusal::Kind::PortError);
        QVERIFY(!core.knownPort());
        QVERIFY(!core.isRunning());
        QVERIFY(!run(RelayCommand::start(QStringLiteral("COM 2"), false)));
        QCOMPARE(core.portInUse(), pty.path());
        QVERIFY(last.linkChanged && last.portChanged && last.flipped == 0);
        QCOMPARE(last.state.port, pty.path());
        QCOMPARE(last.state.revision, quint64(3));
        core.tick();
        QCOMPARE(pty.readExactly(5), QByteArray("32773"));
        QVERIFY(!run(RelayCommand::toggleRelay(1)));
        QCOMPARE(told, 1);
        core.tick();
        QCOMPARE(pty.readExactly(5), QByteArray("32772"));
        const auto busy = run(RelayCommand::start(QStringLiteral("COM 1"), false));
        QVERIFY(busy && busy->kind == Refusal::Kind::Conflict);
        QCOMPARE(told, 0);
        QVERIFY(!run(RelayCommand::stop()));
        QVERIFY(!core.isRunning());
        QCOMPARE(core.knownPort()->number, 2);
        core.tick(); // stopped: nothing goes out
        QCOMPARE(pty.readAvailable(), QByteArray());
    }

    // The rules in the real core, on the pty: a pulse's "on" frames, then
    // "off" frames from its end, said to come from the pulse's end; a
    // maximum on-time the same; the core wakes for each end, not before.
    void rulesOnTheWire() {
        RuledCore rig;
        auto& [pty, resolver, ports, clock, core] = rig;
        RelayRules rules;
        rules.relays[2].pulseMs = 500;
        rules.relays[3].maxOnMs = 1000;
        rules.relays[3].name = QStringLiteral("Heizung");
        core.setRules(rules);
        QList<RelayChange> changes;
        QObject watcher;
        core.watch(&watcher, [&](const RelayChange& change) { changes << change; });
        const auto stopped = carryOut(core, RelayCommand::pulse(3, std::nullopt), ports, {});
        QVERIFY(stopped && stopped->kind == Refusal::Kind::Conflict);
        QVERIFY(!carryOut(core, RelayCommand::start(QStringLiteral("COM 2"), false), ports, {}));
        QVERIFY(!carryOut(core, RelayCommand::pulse(3, std::nullopt), ports, {}));
        QVERIFY(!carryOut(core, RelayCommand::setRelay(4, true), ports, {}));
        QCOMPARE(clock.wakeTime, clock.time + 500);
        QCOMPARE(core.offAt(4), clock.time + 1000);
        core.tick();
        QCOMPARE(pty.readExactly(5), QByteArray("00012"));
        clock.advance(499);
        core.tick();
        QCOMPARE(pty.readExactly(5), QByteArray("00012"));
        clock.advance(1);
        core.tick();
        QCOMPARE(pty.readExactly(5), QByteArray("00008"));
        QCOMPARE(changes.last().source.text(), QStringLiteral("Impulsende"));
        QCOMPARE(changes.last().source.detail, QStringLiteral("Relais 3"));
        QCOMPARE(clock.wakeTime, clock.time + 500);
        clock.advance(500);
        core.tick();
        QCOMPARE(pty.readExactly(5), QByteArray("00000"));
        QCOMPARE(changes.last().source.text(), QStringLiteral("Höchstdauer erreicht"));
        QCOMPARE(clock.wakeTime, -1); // nothing left to wake for
    }

    // An interlock's switch-over through the real core and port: the new
    // member's "on" is handed to the port only once a frame with both off
    // has left it and the dead time has passed since.
    void interlockOnTheWire() {
        RuledCore rig;
        auto& [pty, resolver, ports, clock, core] = rig;
        RelayRules rules;
        rules.groups.append({QStringLiteral("tor"), 3, InterlockGroup::Mode::SwitchOver, 300});
        core.setRules(rules);
        QVERIFY(!carryOut(core, RelayCommand::start(QStringLiteral("COM 2"), false), ports, {}));
        QVERIFY(!carryOut(core, RelayCommand::setRelay(1, true), ports, {}));
        core.tick();
        QCOMPARE(pty.readExactly(5), QByteArray("00001"));
        QVERIFY(!carryOut(core, RelayCommand::setRelay(2, true), ports, {}));
        QCOMPARE(int(core.relays()), 0); // relay 2 waits, off
        QByteArray wire;
        for (int tick = 0; tick < 8; ++tick) {
            clock.advance(100);
            core.tick();
            wire += pty.readExactly(5);
        }
        // Off at once; the all-off frame found gone at the next tick, then 300 ms.
        QCOMPARE(wire, QByteArray("0000000000000000000000002000020000200002"));
        const auto both = carryOut(core, RelayCommand::setAll(3), ports, {});
        QVERIFY(both && both->kind == Refusal::Kind::BadArgument);
    }

    // Random commands from every way in and random clock steps, fixed
    // seeds: each relay that changed is in exactly one record line, with the
    // source of its change; replaying the lines gives the core's pattern;
    // each refusal is heard once, with its source; and no frame on the line
    // has two members of the group on.
    void everyChangeRecordedOnce_data() {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {3u, 11u, 2024u, 65535u}) {
            QTest::addRow("seed %u", seed) << seed;
        }
    }
    void everyChangeRecordedOnce() {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        RuledCore rig;
        auto& [pty, resolver, ports, clock, core] = rig;
        RelayRules rules;
        rules.relays[2].name = QStringLiteral("Pumpe");
        rules.relays[2].pulseMs = 300;
        rules.relays[3].maxOnMs = 700;
        rules.relays[5].minOffMs = 400;
        rules.groups.append(
            {QStringLiteral("tor"), 3,
             seed % 2 ? InterlockGroup::Mode::SwitchOver : InterlockGroup::Mode::Block,
             seed % 3 ? 200 : 0});
        core.setRules(rules);
        quint16 replayed = 0;
        int refusalsHeard = 0, refusalsMade = 0;
        QString lastSource;
        QObject watcher;
        core.watch(&watcher, [&](const RelayChange& change) {
            const QStringList lines = ChangeRecord::linesFor(change, rules);
            QCOMPARE(lines.size(), qPopulationCount(change.flipped) +
                                       int(change.linkChanged || change.portChanged));
            for (const QString& line : lines) {
                QVERIFY2(line.endsWith(QStringLiteral(" (%1)").arg(change.source.text())),
                         qPrintable(line));
            }
            replayed ^= change.flipped;
        });
        core.watchRefusals(&watcher, [&](const Refusal&, const ChangeSource& source) {
            ++refusalsHeard;
            lastSource = source.text();
        });
        using K = ChangeSource::Kind;
        const K kinds[] = {
            K::WindowMouse, K::WindowKeyboard, K::CommandLine, K::DBus, K::Mqtt, K::Web, K::Pipe};
        QVERIFY(!carryOut(core, RelayCommand::start(QStringLiteral("COM 2"), false), ports, {}));
        QByteArray wire;
        for (int i = 0; i < 300; ++i) {
            const ChangeSource source{kinds[random.bounded(7)], QString::number(i)};
            const int relay = 1 + int(random.bounded(6));
            const RelayCommand::Made commands[] = {
                RelayCommand::setRelay(relay, random.bounded(2) == 0),
                RelayCommand::toggleRelay(relay),
                RelayCommand::setAll(random.bounded(64)),
                RelayCommand::pulse(relay,
                                    random.bounded(2) ? std::optional<qint64>(400) : std::nullopt),
                RelayCommand::stop(),
                RelayCommand::start(QStringLiteral("COM 2"), false)};
            if (carryOut(core, commands[random.bounded(6)], ports, source)) {
                ++refusalsMade;
                QCOMPARE(refusalsHeard, refusalsMade);
                QCOMPARE(lastSource, source.text());
            }
            for (int ticks = int(random.bounded(4)); ticks > 0; --ticks) {
                clock.advance(100);
                core.tick();
                wire += pty.readAvailable();
            }
            QCOMPARE(replayed, core.relays());
        }
        QCOMPARE(refusalsHeard, refusalsMade);
        QVERIFY(refusalsMade > 0);
        for (qsizetype at = 0; at + 5 <= wire.size(); at += 5) {
            QVERIFY2((wire.mid(at, 5).toInt() & 3) != 3, wire.mid(at, 5).constData());
        }
    }

    // power_on = last across a restart: the pattern comes back; a relay
    // whose end passed while the program was down starts off, one whose end
    // is ahead keeps the time left; a broken interlock starts with its group
    // off; a file that cannot be read starts all off. Each is said.
    void lastStateAcrossARestart_data() {
        QTest::addColumn<qint64>("downMs");
        QTest::addColumn<QByteArray>("file"); // empty: as the first run left it
        QTest::addColumn<int>("pattern");
        QTest::addColumn<qint64>("maxOnLeft"); // of relay 3; -1: off
        QTest::addColumn<QString>("said");
        QTest::newRow("a second down") << 1000LL << QByteArray() << 0b10100 << 8000LL << "";
        QTest::newRow("the pulse ended meanwhile")
            << 3000LL << QByteArray() << 0b00100 << 6000LL << "";
        QTest::newRow("both ended meanwhile") << 20000LL << QByteArray() << 0 << -1LL << "";
        const QByteArray zero = "[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]";
        QTest::newRow("an interlock broken")
            << 0LL << "{\"pattern\":3,\"pulse_end\":" + zero + ",\"max_on_end\":" + zero + "}" << 0
            << -1LL << "Gruppe »rollo«";
        QTest::newRow("a damaged file")
            << 0LL << QByteArray("{\"pattern\":") << 0 << -1LL << "ist beschädigt";
    }
    void lastStateAcrossARestart() {
        QFETCH(qint64, downMs);
        QFETCH(QByteArray, file);
        QFETCH(int, pattern);
        QFETCH(qint64, maxOnLeft);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("state/last-state.json"));
        FixedPortResolver resolver;
        RelayRules rules;
        rules.relays[2].maxOnMs = 10000;
        rules.relays[4].pulseMs = 2000;
        rules.groups.append({QStringLiteral("rollo"), 3, InterlockGroup::Mode::Block, 0});
        FakeClock first;
        {
            HeadlessRelays core(resolver);
            core.setClock(&first);
            core.setRules(rules);
            QStringList none;
            core.startFromLastState(path, none);
            QCOMPARE(none, QStringList());
            QVERIFY(!core.switchTo(0b00100, 3, 0));
            first.advance(1000);
            QVERIFY(!core.switchTo(0b10100, 5, 2000));
        }
        if (!file.isEmpty()) {
            QFile damaged(path);
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write(file);
        }
        FakeClock second;
        second.time = first.time + downMs; // (its wall clock moves on with it)
        HeadlessRelays core(resolver);
        core.setClock(&second);
        core.setRules(rules);
        QStringList told;
        core.startFromLastState(path, told);
        QCOMPARE(int(core.relays()), pattern);
        QCOMPARE(core.offAt(3).value_or(second.time - 1) - second.time, maxOnLeft);
        QCOMPARE(told.join(' ').contains(said), true);
        QCOMPARE(told.isEmpty(), said.isEmpty());
    }

    // The contract every way in keeps, on the core itself: each row as a
    // local caller and as one from the network.
    void contractOnTheCore_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("fromNetwork");
        const QList<ContractRow> rows = contractRows();
        for (int i = 0; i < rows.size(); ++i) {
            for (const bool net : {false, true}) {
                QTest::addRow("%s, %s", qPrintable(rows[i].name), net ? "network" : "local")
                    << i << net;
            }
        }
    }
    void contractOnTheCore() {
        QFETCH(int, index);
        QFETCH(bool, fromNetwork);
        const ContractRow row = contractRows().at(index);
        Pty a;
        Pty other;
        QTemporaryFile file;
        QVERIFY(file.open());
        FixedPortResolver resolver({{2, a.path()}, {3, other.path()}});
        const SystemPorts ports = [&] { return QStringList{QString(), a.path(), other.path()}; };
        HeadlessRelays core(resolver);
        core.setRelays(quint16(contractBefore()));
        core.startOn(PortSpec{0, a.path()}); // A is known either way
        if (!row.running) {
            core.stop();
        }
        const QHash<QString, QString> names{{"A", a.path()},           {"", QString()},
                                            {"OTHER", "COM 3"},        {"MISSING", "COM 5"},
                                            {"FILE", file.fileName()}, {"BAD", "COM 9"}};
        const auto refusal = carryOut(core, contractCommand(row, names, fromNetwork), ports, {});
        QCOMPARE(contractOutcome(refusal), fromNetwork ? row.expectNetwork : row.expectLocal);
        QCOMPARE(int(core.relays()), row.mask);
        QCOMPARE(core.portInUse(), row.linkAfter ? a.path() : QString());
    }

    // The relay panel's tick through the real control: mask, labels, and the
    // bytes at the far end, with the line as the driver holds it.
    void workedFramesArriveByteExact_data() {
        QTest::addColumn<QList<int>>("relaysOn");
        QTest::addColumn<QByteArray>("frame");
        const auto range = [](int first, int last) {
            QList<int> r;
            for (int k = first; k <= last; ++k) {
                r << k;
            }
            return r;
        };
        QTest::newRow("none") << QList<int>{} << QByteArray("00000");
        QTest::newRow("relay 1") << QList<int>{1} << QByteArray("00001");
        QTest::newRow("relays 1 and 3") << QList<int>{1, 3} << QByteArray("00005");
        QTest::newRow("relays 5 to 8") << range(5, 8) << QByteArray("00240");
        QTest::newRow("relays 1 to 8") << range(1, 8) << QByteArray("00255");
        QTest::newRow("relay 10") << QList<int>{10} << QByteArray("00512");
        QTest::newRow("relay 14") << QList<int>{14} << QByteArray("08192");
        QTest::newRow("relays 1 to 15") << range(1, 15) << QByteArray("32767");
        QTest::newRow("relay 16") << QList<int>{16} << QByteArray("32768");
        QTest::newRow("relays 9 to 16") << range(9, 16) << QByteArray("65280");
        QTest::newRow("all sixteen") << range(1, 16) << QByteArray("65535");
        QTest::newRow("relays 3 and 16") << QList<int>{3, 16} << QByteArray("32772");
    }
    void workedFramesArriveByteExact() {
        QFETCH(QList<int>, relaysOn);
        QFETCH(QByteArray, frame);
        Pty pty;
        FixedPortResolver resolver({{2, pty.path()}});
        QtSerialControl serial(resolver);
        FakePanel panel;
        RelayPanel relays(panel.pointers(), panel.maskLabel, panel.lengthLabel, serial);
        for (int k : relaysOn) {
            relays.toggleRelay(k);
        }
        serial.setPortNumber(2);
        serial.setSettings(kLineSettings);
        serial.open();
        relays.tick();
        relays.tick();
        QCOMPARE(pty.readExactly(10), frame + frame);
        QCOMPARE(pty.readAvailable(), QByteArray());

        const QString text = QString::number(frame.toInt());
        QCOMPARE(relays.mask(), frame.toInt());
        for (int k = 1; k <= kRelayCount; ++k) {
            QCOMPARE(relays.relayValue(k), relaysOn.contains(k) ? relayWeight(k) : 0);
        }
        QCOMPARE(panel.maskLabel.caption, text);
        QCOMPARE(panel.lengthLabel.caption, QString::number(text.size()));

        const termios t = pty.attributes();
        QCOMPARE(int(cfgetospeed(&t)), int(B9600));
        QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QVERIFY2(!(t.c_oflag & OPOST), "bytes leave unchanged");
        QVERIFY2(!(t.c_iflag & (IXON | IXOFF)), "no software handshake");
    }

    // No device behind the COM port (a missing device node is tried through
    // the command line).
    void missingPort() {
        FixedPortResolver resolver;
        QtSerialControl serial(resolver);
        serial.setPortNumber(3);
        try {
            serial.open();
            QFAIL("opened a missing port");
        } catch (const CommError& e) {
            QCOMPARE(e.number(), int(kErrPortNotFound));
            QCOMPARE(e.device(), QStringLiteral("COM 3"));
        }
        QVERIFY(!serial.isOpen());
    }

    void stalledLineKeepsOnlyTheNewest() {
        Pty pty;
        FixedPortResolver resolver({{1, pty.path()}});
        QtSerialControl serial(resolver);
        serial.open();
        // The far end reads nothing while far more than the system buffers
        // can hold is sent.
        qint64 mostQueued = 0;
        QByteArray last;
        for (int i = 0; i < 40000; ++i) {
            last = QByteArray::number(i % 65536).rightJustified(5, '0');
            serial.write(last);
            serial.discardPending();
            mostQueued = std::max(mostQueued, serial.bytesQueued());
        }
        QVERIFY2(mostQueued > 0, "the line never stalled; the test proves nothing");
        // The newest frame, and at most one older frame already handed to the port.
        QVERIFY2(mostQueued <= 10, qPrintable(QString::number(mostQueued)));

        QByteArray received;
        while (serial.bytesQueued() > 0 || received.isEmpty() || !received.endsWith(last)) {
            const QByteArray more = pty.readExactly(4096, 100);
            QVERIFY2(!more.isEmpty(), "the line never caught up");
            received += more;
        }
        static const QRegularExpression wholeFrames(QStringLiteral("^([0-9]{5})+$"));
        QVERIFY(wholeFrames.match(QString::fromLatin1(received)).hasMatch()); // never half a frame
    }

    void lostLineIsReportedOnceAndClosed() {
        Pty pty;
        FixedPortResolver resolver({{1, pty.path()}});
        QtSerialControl serial(resolver);
        QSignalSpy lost(&serial, &QtSerialControl::lineLost);
        serial.open();
        serial.write("00001");
        QCOMPARE(pty.readExactly(5), QByteArray("00001"));

        pty.closeMaster();
        QVERIFY(lost.wait(5000));
        QVERIFY(!serial.isOpen());
        for (int i = 0; i < 200; ++i) {
            QCoreApplication::processEvents();
        }
        QCOMPARE(lost.count(), 1);
        try {
            serial.write("00002");
            QFAIL("the loss was not raised");
        } catch (const CommError& e) {
            QCOMPARE(e.number(), int(kErrLineLost));
            QCOMPARE(e.device(), pty.path());
        }
        QCOMPARE(errorOf([&] { serial.write("00003"); }), 0); // raised once only
        serial.close();

        Pty again; // a new adapter behind the same COM port
        resolver.set(1, again.path());
        serial.open();
        serial.write("00004");
        QCOMPARE(again.readExactly(5), QByteArray("00004"));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
