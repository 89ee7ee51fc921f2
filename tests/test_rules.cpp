// The relays' rules in fake time: durations, the settings that set them,
// and what the rules do to the frames that leave the port.

#include "change_record.h"
#include "durations.h"
#include "relay_rules.h"
#include "rule_card.h"
#include "settings_file.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace relais;

namespace {

RelayRules rulesFrom(const QByteArray& text, QString* fault = nullptr) {
    QTemporaryDir dir;
    const QString path = settingsFile(dir, text);
    auto read = readRelayRules(path);
    if (auto* error = std::get_if<QString>(&read)) {
        if (fault != nullptr) {
            *fault = error->mid(path.size());
        }
        return {};
    }
    return std::get<RelayRules>(read);
}

// Relays 1 and 2 a motor's two directions, relay 3 a pump.
RelayRules motorAndPump(const char* mode, const char* deadTime) {
    return rulesFrom(QByteArray("[relay.1]\nname = Auf\n[relay.2]\nname = Ab\n"
                                "[relay.3]\nname = Pumpe\nmax_on = 10s\nmin_off = 5s\npulse = 2s\n"
                                "[interlock.rollo]\nrelays = Auf, Ab\nmode = ") +
                     mode + "\ndead_time = " + deadTime + "\n");
}

bool twoOn(quint16 frame) {
    return (frame & 3) == 3;
}

} // namespace

class TestRules : public QObject {
    Q_OBJECT

private slots:
    void durations_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("ms"); // -1: refused
        QTest::newRow("milliseconds") << "500ms" << 500LL;
        QTest::newRow("seconds") << "5s" << 5000LL;
        QTest::newRow("a fraction") << "1.5s" << 1500LL;
        QTest::newRow("minutes") << "10min" << 600000LL;
        QTest::newRow("hours") << "2h" << 7200000LL;
        QTest::newRow("half a minute") << "0.5min" << 30000LL;
        QTest::newRow("no unit") << "5" << -1LL;
        QTest::newRow("a blank") << "5 s" << -1LL;
        QTest::newRow("negative") << "-1s" << -1LL;
        QTest::newRow("part of a ms") << "1.5ms" << -1LL;
        QTest::newRow("a comma") << "1,5s" << -1LL;
        QTest::newRow("an unknown unit") << "5sec" << -1LL;
        QTest::newRow("nothing") << "" << -1LL;
    }
    void durations() {
        QFETCH(QString, text);
        QFETCH(qint64, ms);
        QCOMPARE(parseDuration(text).value_or(-1), ms);
    }
    void durationsSaid() {
        QCOMPARE(durationText(130000), QStringLiteral("2 min 10 s"));
        QCOMPARE(durationText(300), QStringLiteral("300 ms"));
        QCOMPARE(durationText(3900000), QStringLiteral("1 h 5 min"));
        QCOMPARE(durationText(1001), QStringLiteral("2 s")); // never said shorter than it is
    }

    // A settings file's rules, and each fault with its line.
    void settingsFaults_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("fault"); // empty: read
        QTest::newRow("all of it") << QByteArray("[link]\nport = COM 1\npower_on = last\n"
                                                 "[relay.3]\nname = \"Pumpe\"\nmax_on = 2h\n")
                                   << QString();
        QTest::newRow("relay 17") << QByteArray("[relay.17]\nname = x\n")
                                  << ", Zeile 1: Relais »17« gibt es nicht: erlaubt sind 1 bis 16.";
        QTest::newRow("an unknown key") << QByteArray("[relay.3]\n\nmaxon = 5s\n")
                                        << ", Zeile 3: unbekannter Schlüssel »maxon«.";
        QTest::newRow("a bad duration") << QByteArray("[relay.3]\npulse = 5\n")
                                        << ", Zeile 2: ungültige Dauer »5« (so etwa: 500ms, 5s, "
                                           "1.5s, 10min, 2h).";
        QTest::newRow("a name twice")
            << QByteArray("[relay.1]\nname = Pumpe\n[relay.2]\nname = Pumpe\n")
            << ", Zeile 4: den Namen »Pumpe« hat schon Relais 1.";
        QTest::newRow("a number as a name") << QByteArray("[relay.1]\nname = 7\n")
                                            << ", Zeile 2: Name »7«: 1 bis 32 Zeichen, keine Zahl.";
        QTest::newRow("a group without mode") << QByteArray("[interlock.x]\nrelays = 1,2\n")
                                              << ", Zeile 1: [interlock.x] braucht mode.";
        QTest::newRow("a group of one")
            << QByteArray("[interlock.x]\nrelays = 1\nmode = sperren\n")
            << ", Zeile 1: [interlock.x] braucht mindestens zwei Relais.";
        QTest::newRow("a relay in two groups")
            << QByteArray("[interlock.a]\nrelays = 1,2\nmode = sperren\n"
                          "[interlock.b]\nrelays = 2,3\nmode = wechseln\n")
            << ", Zeile 4: Relais 2 gehört schon zur Gruppe »a«.";
        QTest::newRow("an unknown relay name")
            << QByteArray("[interlock.a]\nrelays = Auf, Ab\nmode = sperren\n")
            << ", Zeile 1: unbekanntes Relais »Auf«.";
        QTest::newRow("a bad mode")
            << QByteArray("[interlock.a]\nrelays = 1,2\nmode = beide\n")
            << ", Zeile 3: mode ist »wechseln« oder »sperren«, nicht »beide«.";
        QTest::newRow("a bad power_on") << QByteArray("[link]\npower_on = on\n")
                                        << ", Zeile 2: power_on ist »off« oder »last«, nicht »on«.";
    }
    void settingsFaults() {
        QFETCH(QByteArray, text);
        QFETCH(QString, fault);
        QString said;
        const RelayRules rules = rulesFrom(text, &said);
        QCOMPARE(said, fault);
        if (fault.isEmpty()) {
            QVERIFY(rules.powerOnLast);
            QCOMPARE(rules.relayNamed(QStringLiteral("Pumpe")), 3);
            QCOMPARE(rules.relays[2].maxOnMs, 7200000LL);
            QCOMPARE(rules.label(3), QStringLiteral("Relais 3 (Pumpe)"));
        }
    }

    // A maximum on-time ends it, and a second "on" does not extend it;
    // min_off refuses an early "on", saying how long is left.
    void maximumAndMinimum() {
        RuleCard card(motorAndPump("sperren", "0s"));
        QVERIFY(!card.set(3, true));
        card.advance(6000);
        QVERIFY(!card.set(3, true)); // on again: no new ten seconds
        card.advance(3990);
        QVERIFY(card.shown & 4);
        card.advance(20);
        QVERIFY(!(card.shown & 4));
        QCOMPARE(card.steps.size(), size_t(1));
        QCOMPARE(card.steps[0].cause, ChangeSource::Kind::MaxOn);
        card.advance(2800);
        const auto early = card.set(3, true);
        QVERIFY(early && early->kind == Refusal::Kind::Conflict);
        QCOMPARE(early->text, QStringLiteral("Relais 3 (Pumpe) darf erst in 3 s wieder an."));
        card.advance(2200);
        QVERIFY(!card.set(3, true));
    }

    // A pulse ends once, on time; renewed it starts again; "off" ends it.
    void pulses() {
        RuleCard card(motorAndPump("sperren", "0s"));
        QVERIFY(!card.set(3, true, 2000));
        card.advance(1500);
        QVERIFY(!card.set(3, true, 2000)); // renewed: from now
        card.advance(1990);
        QVERIFY(card.shown & 4);
        card.advance(20);
        QVERIFY(!(card.shown & 4));
        QCOMPARE(card.steps.size(), size_t(1));
        QCOMPARE(card.steps[0].cause, ChangeSource::Kind::PulseEnd);
        card.advance(6000);
        QVERIFY(!card.set(3, true, 2000));
        QVERIFY(!card.set(3, false)); // cut short
        card.advance(5000);
        QCOMPARE(card.steps.size(), size_t(1));
        QVERIFY(!card.keeper.nextDeadline(card.shown));
    }

    // Both modes, with and without a dead time, on a line that moves and on
    // one that stalls: never two members on in a frame that left, and the
    // dead time counted from an all-off frame that left.
    void interlocks_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("deadTime");
        QTest::addColumn<bool>("stalled");
        QTest::addColumn<bool>("refused"); // "on" for relay 2 while relay 1 is on
        for (const char* mode : {"wechseln", "sperren"}) {
            for (int dead : {0, 500}) {
                for (bool stalled : {false, true}) {
                    QTest::addRow("%s, dead time %d ms%s", mode, dead, stalled ? ", stalled" : "")
                        << mode << dead << stalled << (QLatin1String(mode) == "sperren");
                }
            }
        }
    }
    void interlocks() {
        QFETCH(QString, mode);
        QFETCH(int, deadTime);
        QFETCH(bool, stalled);
        QFETCH(bool, refused);
        RuleCard card(motorAndPump(qPrintable(mode), qPrintable(QString::number(deadTime) + "ms")));
        QVERIFY(!card.set(1, true));
        card.advance(300);
        card.stalled = stalled;
        const auto other = card.set(2, true);
        QCOMPARE(bool(other), refused);
        if (refused) {
            QCOMPARE(other->text,
                     QStringLiteral("Relais 1 (Auf) ist an (Gruppe »rollo«): erst ausschalten."));
            QVERIFY(!card.set(1, false));
            QVERIFY(!card.set(2, true)); // waits for the all-off frame
        }
        QCOMPARE(card.shown & 3, 0);
        card.advance(1000);
        card.stalled = false;
        card.advance(1500);
        QCOMPARE(card.shown & 3, 2);
        const QList<RuleCard::Frame> sent = card.sent();
        qint64 offLeft = -1;
        for (const auto& f : sent) {
            QVERIFY(!twoOn(f.mask));
            if ((f.mask & 3) == 0 && offLeft < 0) {
                offLeft = f.leftAt;
            }
            if (f.mask & 2) {
                QVERIFY2(offLeft >= 0 && f.handedAt >= offLeft + deadTime,
                         qPrintable(QStringLiteral("relay 2 handed at %1, all off left at %2")
                                        .arg(f.handedAt)
                                        .arg(offLeft)));
                break;
            }
        }
    }

    // A pattern that would put two members on at once is refused, naming
    // the group; one member at a time is a switch-over.
    void patterns() {
        RuleCard card(motorAndPump("wechseln", "0s"));
        const auto both = card.command(3);
        QVERIFY(both && both->kind == Refusal::Kind::BadArgument);
        QCOMPARE(
            both->text,
            QStringLiteral("Gruppe »rollo«: Relais 1 (Auf) und Relais 2 (Ab) wären zugleich an."));
        QVERIFY(!card.command(1));
        card.advance(200);
        QVERIFY(!card.command(2 | 4));
        QCOMPARE(card.shown, quint16(4));
        card.advance(300);
        QCOMPARE(card.shown, quint16(6));
    }

    // Who switched what: a line per relay and per refusal, with the source;
    // at most ten a second, then how many more there were.
    void changeRecord() {
        const RelayRules rules = motorAndPump("sperren", "0s");
        QStringList lines;
        qint64 now = 0;
        ChangeRecord record(
            rules, [&](const QString& line) { lines << line; }, [&] { return now; });
        RelayChange change;
        change.state.pattern = 5;
        change.flipped = 5;
        change.source = {ChangeSource::Kind::Mqtt, QStringLiteral("relaiskarte/a/relays/set")};
        record.changed(change);
        change.flipped = 4;
        change.state.pattern = 1;
        change.source = {ChangeSource::Kind::MaxOn, QStringLiteral("Relais 3 (Pumpe)")};
        record.changed(change);
        record.refused(Refusal{Refusal::Kind::Conflict, QStringLiteral("nein"), {}, 0, {}},
                       {ChangeSource::Kind::Web, QStringLiteral("Token ci")});
        QCOMPARE(lines, QStringList({"Relais 1 (Auf) an (MQTT relaiskarte/a/relays/set)",
                                     "Relais 3 (Pumpe) an (MQTT relaiskarte/a/relays/set)",
                                     "Relais 3 (Pumpe) aus (Höchstdauer erreicht)",
                                     "abgelehnt: nein (Web (Token ci))"}));
        lines.clear();
        now = 5000;
        for (int i = 0; i < 25; ++i) {
            record.refused(Refusal{}, {});
        }
        now = 6000;
        record.refused(Refusal{}, {});
        QCOMPARE(lines.size(), ChangeRecord::kLinesPerSecond + 2);
        QCOMPARE(lines[ChangeRecord::kLinesPerSecond],
                 QStringLiteral("… und 15 weitere Änderungen"));
    }

    // Random commands and clock steps with fixed seeds: no frame that left
    // has two members on, no relay stays on past its maximum by more than a
    // tick, and every pulse ends once.
    void randomCommands_data() {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 7u, 42u, 1234u, 99991u}) {
            QTest::addRow("seed %u", seed) << seed;
        }
    }
    void randomCommands() {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        RuleCard card(motorAndPump(seed % 2 ? "wechseln" : "sperren", seed % 3 ? "300ms" : "0s"));
        std::array<qint64, 3> onSince{-1, -1, -1};
        int pulsesBegun = 0;
        for (int i = 0; i < 400; ++i) {
            const int relay = 1 + int(random.bounded(3));
            const int what = int(random.bounded(4));
            if (what == 0) {
                card.command(quint16(random.bounded(8)));
            } else if (what == 3 && relay == 3) {
                pulsesBegun += card.set(3, true, 2000) ? 0 : 1;
            } else {
                card.set(relay, what == 1);
            }
            card.stalled = random.bounded(10) == 0;
            const quint16 before = card.shown;
            card.advance(10 * (1 + random.bounded(60)));
            if ((card.shown & 4) && !(before & 4)) {
                onSince[2] = card.now;
            }
            QVERIFY(!(card.shown & 4) || onSince[2] < 0 || card.now - onSince[2] <= 10000 + 100);
            // Whatever was due has been done: the next wake-up lies ahead (a
            // deadline in the past would have the program spin).
            const auto next = card.keeper.nextDeadline(card.shown);
            QVERIFY(!next || *next > card.now);
        }
        for (const auto& f : card.sent()) {
            QVERIFY(!twoOn(f.mask));
        }
        int pulseEnds = 0;
        for (const auto& step : card.steps) {
            pulseEnds += step.cause == ChangeSource::Kind::PulseEnd ? 1 : 0;
        }
        QVERIFY(pulseEnds <= pulsesBegun);
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "test_rules.moc"
