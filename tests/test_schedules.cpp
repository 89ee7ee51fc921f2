// Schedules on an injected wall clock: the clock change (instants from
// the time-zone database, written out as UTC), catching up after downtime,
// a resume and a set clock, sunrise and sunset against published tables,
// and the preview against what is really switched.

#include "change_record.h"
#include "fake_clock.h"
#include "fake_schedule_clock.h"
#include "headless_relays.h"
#include "port_resolver.h"
#include "relay_command.h"
#include "schedule_preview.h"
#include "schedule_reader.h"
#include "schedule_runner.h"
#include "settings_file.h"
#include "sun_times.h"
#include "wall_time.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace relais;

namespace {

qint64 utc(const char* iso) {
    return FakeScheduleClock::utc(iso);
}

QString isoUtc(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
}

RelayRules gardenRules() {
    RelayRules rules;
    rules.relays[4].name = QStringLiteral("Garten");
    return rules;
}

// The settings of a test, read as the program reads them.
std::variant<Schedules, QString> readText(const QByteArray& text, const RelayRules& rules) {
    QTemporaryDir dir;
    const QString path = settingsFile(dir, text);
    auto read = readSchedules(path, rules);
    if (auto* fault = std::get_if<QString>(&read)) {
        fault->replace(path, QStringLiteral("relaiskarte.conf"));
    }
    return read;
}

Schedules schedulesOf(const QByteArray& text, const RelayRules& rules = gardenRules()) {
    auto read = readText(text, rules);
    if (const auto* fault = std::get_if<QString>(&read)) {
        qFatal("%s", qPrintable(*fault));
    }
    return std::get<Schedules>(read);
}

// The runner on a core without a card, its state file in a folder of its own.
struct Rig {
    RelayRules rules = gardenRules();
    FixedPortResolver resolver;
    HeadlessRelays core{resolver};
    FakeScheduleClock clock;
    QTemporaryDir dir;
    QStringList said;
    QList<RelayChange> changes;
    QObject watcher;
    std::unique_ptr<ScheduleRunner> runner;

    explicit Rig(qint64 start) {
        clock.wall = start;
        core.watch(&watcher, [this](const RelayChange& c) { changes << c; });
    }
    ~Rig() { core.setSchedules(nullptr); } // the runner goes first
    QString statePath() const { return dir.filePath(QStringLiteral("schedules.json")); }
    void run(const QByteArray& text) {
        runner = std::make_unique<ScheduleRunner>(core, rules, schedulesOf(text, rules), clock,
                                                  statePath(), utc("2026-01-01T00:00:00Z"),
                                                  [this](const QString& line) { said << line; });
        core.setSchedules(runner.get());
        runner->begin();
    }
    bool on(int relay) const { return core.relays() & relayWeight(relay); }
    // Who made the last change of a relay.
    QString lastSource() const {
        for (auto c = changes.rbegin(); c != changes.rend(); ++c) {
            if (c->flipped != 0) {
                return c->source.text();
            }
        }
        return {};
    }
};

} // namespace

class TestSchedules : public QObject {
    Q_OBJECT

private slots:
    // A wall time on a clock-change day, against the instants zdump gives
    // for Europe/Berlin, Australia/Lord_Howe (a half hour) and
    // Australia/Sydney (the southern hemisphere).
    void clockChange_data() {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("instant");
        QTest::addColumn<int>("fate");
        const int plain = int(WallInstant::Fate::Plain), gap = int(WallInstant::Fate::InGap),
                  twice = int(WallInstant::Fate::Repeated);
        const auto row = [](const char* name, const char* zone, QDate d, QTime t, const char* at,
                            int fate) { QTest::newRow(name) << zone << d << t << at << fate; };
        const QDate spring(2026, 3, 29), autumn(2026, 10, 25);
        row("Berlin before the gap", "Europe/Berlin", spring, {1, 59}, "2026-03-29T00:59:00Z",
            plain);
        row("Berlin in the gap", "Europe/Berlin", spring, {2, 30}, "2026-03-29T01:30:00Z", gap);
        row("Berlin gap start", "Europe/Berlin", spring, {2, 0}, "2026-03-29T01:00:00Z", gap);
        row("Berlin after the gap", "Europe/Berlin", spring, {3, 0}, "2026-03-29T01:00:00Z", plain);
        row("Berlin repeated hour", "Europe/Berlin", autumn, {2, 30}, "2026-10-25T00:30:00Z",
            twice);
        row("Berlin repeated start", "Europe/Berlin", autumn, {2, 0}, "2026-10-25T00:00:00Z",
            twice);
        row("Berlin after it", "Europe/Berlin", autumn, {3, 0}, "2026-10-25T02:00:00Z", plain);
        row("Lord Howe half-hour gap", "Australia/Lord_Howe", {2026, 10, 4}, {2, 15},
            "2026-10-03T15:45:00Z", gap);
        row("Lord Howe half-hour twice", "Australia/Lord_Howe", {2026, 4, 5}, {1, 45},
            "2026-04-04T14:45:00Z", twice);
        row("Sydney gap in October", "Australia/Sydney", {2026, 10, 4}, {2, 30},
            "2026-10-03T16:30:00Z", gap);
        row("Sydney twice in April", "Australia/Sydney", {2026, 4, 5}, {2, 30},
            "2026-04-04T15:30:00Z", twice);
        row("Sydney a plain day", "Australia/Sydney", {2026, 7, 1}, {6, 30}, "2026-06-30T20:30:00Z",
            plain);
    }
    void clockChange() {
        QFETCH(QString, zone);
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(QString, instant);
        QFETCH(int, fate);
        const WallInstant at = resolveWallTime(date, time, QTimeZone(zone.toUtf8()));
        QCOMPARE(isoUtc(at.utcMs), instant);
        QCOMPARE(int(at.fate), fate);
    }

    // Entries across both nights: an event in the gap and in the repeated
    // hour fires once; a window keeps its wall-clock bounds (7 h and 9 h).
    void entriesAcrossTheNights_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>(
            "night"); // searched through from its 00:00 UTC, for a day and a half
        QTest::addColumn<QStringList>("instants");
        QTest::addColumn<QString>("why");
        QTest::newRow("event in the gap") << QByteArray("at = 02:30\naction = on\ndays = So\n")
                                          << "2026-03-29" << QStringList{"2026-03-29T01:30:00Z"}
                                          << "02:30 gibt es am 29.03.2026 nicht, also 03:30";
        QTest::newRow("event in the repeated hour")
            << QByteArray("at = 02:30\naction = on\ndays = So\n") << "2026-10-25"
            << QStringList{"2026-10-25T00:30:00Z"} << "02:30 gibt es am 25.10.2026 zweimal";
        QTest::newRow("window on the spring night")
            << QByteArray("window = 22:00-06:00\ndays = Sa\n") << "2026-03-28"
            << QStringList{"2026-03-28T21:00:00Z", "2026-03-29T04:00:00Z"} << "";
        QTest::newRow("window on the autumn night")
            << QByteArray("window = 22:00-06:00\ndays = Sa\n") << "2026-10-24"
            << QStringList{"2026-10-24T20:00:00Z", "2026-10-25T05:00:00Z"} << "";
        QTest::newRow("window in the gap")
            << QByteArray("window = 02:15-02:45\ndays = So\n") << "2026-03-29"
            << QStringList{"2026-03-29T01:15:00Z", "2026-03-29T01:45:00Z"} << "nicht, also 03:15";
    }
    void entriesAcrossTheNights() {
        QFETCH(QByteArray, entry);
        QFETCH(QString, night);
        QFETCH(QStringList, instants);
        QFETCH(QString, why);
        const Schedules s =
            schedulesOf("[schedule.Nacht]\nrelays = 5\nzone = Europe/Berlin\n" + entry);
        const qint64 from = utc(qPrintable(night + "T00:00:00Z"));
        QStringList found;
        QString reasons;
        for (const Occurrence& o : occurrencesBetween(s, from, from + 36 * 3600 * 1000)) {
            found << isoUtc(o.atMs);
            reasons += o.why;
        }
        QCOMPARE(found, instants);
        QVERIFY2(reasons.contains(why), qPrintable(reasons));
    }

    // What cannot be read is refused with the file, the line and the fault.
    void settingsFaults_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("said");
        const QByteArray head = "[schedule.Licht]\nrelays = 5\n";
        QTest::newRow("unknown day") << head + "days = Mo-Fx\nat = 06:00\naction = on\n"
                                     << "Zeile 3: unbekannte Tage »Mo-Fx«";
        QTest::newRow("no such time") << head + "at = 24:30\naction = on\n"
                                      << "Zeile 3: ungültige Zeit »24:30«";
        QTest::newRow("window of nothing") << head + "window = 06:00-06:00\n"
                                           << "Zeile 3: Anfang und Ende des Fensters sind gleich";
        QTest::newRow("unknown relay") << QByteArray("[schedule.X]\nrelays = Keller\nat = 06:00\n"
                                                     "action = on\n")
                                       << "Zeile 1: unbekanntes Relais »Keller«";
        QTest::newRow("unknown key") << head + "at = 06:00\naction = on\nwhen = 1\n"
                                     << "Zeile 5: unbekannter Schlüssel »when«";
        QTest::newRow("sun without a place") << head + "at = sunset+00:15\naction = on\n"
                                             << "Zeile 1: [schedule.Licht] Sonnenzeiten brauchen";
        QTest::newRow("neither window nor at") << head + "action = on\n"
                                               << "Zeile 1: [schedule.Licht] braucht entweder";
        QTest::newRow("event without action") << head + "at = 06:00\n"
                                              << "Zeile 1: [schedule.Licht] braucht action";
        QTest::newRow("unknown zone") << head + "at = 06:00\naction = on\nzone = Mars/Olymp\n"
                                      << "Zeile 5: unbekannte Zeitzone »Mars/Olymp«";
        QTest::newRow("bad action") << head + "at = 06:00\naction = blink\n"
                                    << "Zeile 4: action ist on, off, toggle oder pulse DAUER";
        QTest::newRow("bad catch-up") << head + "at = 06:00\naction = on\ncatch_up = bald\n"
                                      << "Zeile 5: catch_up ist yes, no oder eine Dauer";
        QTest::newRow("latitude") << QByteArray("[location]\nlatitude = 95\n")
                                  << "Zeile 2: latitude ist eine Zahl von -90 bis 90";
    }
    void settingsFaults() {
        QFETCH(QByteArray, text);
        QFETCH(QString, said);
        const auto read = readText(text, gardenRules());
        QVERIFY(std::holds_alternative<QString>(read));
        const QString fault = std::get<QString>(read);
        QVERIFY2(fault.startsWith(QStringLiteral("relaiskarte.conf, ")) && fault.contains(said),
                 qPrintable(fault));
    }

    // Sunrise and sunset against a published table (whattime.city, the
    // first of the month), within two minutes; a polar day and night.
    void sunTimes_data() {
        QTest::addColumn<double>("latitude");
        QTest::addColumn<double>("longitude");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("rise");
        QTest::addColumn<QString>("set");
        QTest::newRow("Berlin, winter")
            << 52.52 << 13.41 << "Europe/Berlin" << QDate(2026, 1, 1) << "08:18"
            << "16:03";
        QTest::newRow("Berlin, summer")
            << 52.52 << 13.41 << "Europe/Berlin" << QDate(2026, 7, 1) << "04:48"
            << "21:33";
        QTest::newRow("Sydney, summer")
            << -33.87 << 151.21 << "Australia/Sydney" << QDate(2026, 1, 1) << "05:48"
            << "20:10";
        QTest::newRow("Sydney, winter")
            << -33.87 << 151.21 << "Australia/Sydney" << QDate(2026, 7, 1) << "07:02"
            << "16:57";
        QTest::newRow("Tromsø, polar day")
            << 69.65 << 18.96 << "Europe/Oslo" << QDate(2026, 6, 21) << ""
            << "";
        QTest::newRow("Tromsø, polar night")
            << 69.65 << 18.96 << "Europe/Oslo" << QDate(2026, 12, 21) << ""
            << "";
    }
    void sunTimes() {
        QFETCH(double, latitude);
        QFETCH(double, longitude);
        QFETCH(QString, zone);
        QFETCH(QDate, date);
        QFETCH(QString, rise);
        QFETCH(QString, set);
        const SunTimes sun = relais::sunTimes(date, latitude, longitude);
        const QTimeZone z(zone.toUtf8());
        const auto near = [&](std::optional<qint64> at, const QString& table) {
            if (table.isEmpty()) {
                return !at.has_value();
            }
            const QDateTime expected(date, QTime::fromString(table, QStringLiteral("HH:mm")), z);
            return at && std::abs(*at - expected.toMSecsSinceEpoch()) <= 2 * 60 * 1000;
        };
        QVERIFY2(near(sun.rise, rise), qPrintable(sun.rise ? isoUtc(*sun.rise) : "none"));
        QVERIFY2(near(sun.set, set), qPrintable(sun.set ? isoUtc(*sun.set) : "none"));
        if (rise.isEmpty()) {
            QCOMPARE(sun.polarDay, date.month() == 6);
        }
    }

    // A sunset entry on a polar day does not fire, and the preview says so.
    void sunlessDayInThePreview() {
        const RelayRules rules = gardenRules();
        const Schedules s = schedulesOf("[location]\nlatitude = 69.65\nlongitude = 18.96\n"
                                        "[schedule.Abend]\nrelays = 5\nat = sunset\naction = on\n"
                                        "zone = Europe/Oslo\n");
        const auto rows = previewRows(s, rules, utc("2026-06-20T12:00:00Z"), 2);
        QCOMPARE(rows.size(), 2);
        QVERIFY(!rows[0].fires);
        const QStringList lines = previewLines(rows, s, rules);
        QVERIFY2(lines[0].contains(QStringLiteral("entfällt")) &&
                     lines[0].contains(QStringLiteral("geht die Sonne nicht unter")),
                 qPrintable(lines[0]));
    }

    // Catching up after downtime, a resume and a set clock: windows apply
    // what they say for now unless told not to; a missed event runs once
    // inside its limit; nothing runs twice; each is recorded as caught up.
    void catchingUp_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("doneUntil"); // the state file: down since
        QTest::addColumn<QString>("startAt");
        QTest::addColumn<bool>("relayOn");
        QTest::addColumn<QString>("source"); // of the last change; empty: none
        const QByteArray window = "window = 22:00-06:00\n";
        const QByteArray event = "at = 06:30\naction = on\n";
        QTest::newRow("a window missed while down")
            << window << "2026-05-04T19:00:00Z"
            << "2026-05-04T21:00:00Z" << true << "Zeitplan Licht, nachgeholt, fällig 22:00";
        QTest::newRow("a window not to be made up") << window + "catch_up = no\n"
                                                    << "2026-05-04T19:00:00Z"
                                                    << "2026-05-04T21:00:00Z" << false << "";
        QTest::newRow("a window, first start inside it")
            << window << ""
            << "2026-05-04T21:00:00Z" << true << "Zeitplan Licht, nachgeholt, fällig 22:00";
        QTest::newRow("a window over while down") << window << "2026-05-04T19:00:00Z"
                                                  << "2026-05-05T06:00:00Z" << false << "";
        QTest::newRow("an event inside its limit")
            << event + "catch_up = 30min\n"
            << "2026-05-05T04:00:00Z"
            << "2026-05-05T04:50:00Z" << true << "Zeitplan Licht, nachgeholt, fällig 06:30";
        QTest::newRow("an event outside its limit") << event + "catch_up = 30min\n"
                                                    << "2026-05-05T04:00:00Z"
                                                    << "2026-05-05T05:10:00Z" << false << "";
        QTest::newRow("an event, no catch-up") << event << "2026-05-05T04:00:00Z"
                                               << "2026-05-05T04:31:00Z" << false << "";
        QTest::newRow("an event already done") << event + "catch_up = 2h\n"
                                               << "2026-05-05T04:40:00Z"
                                               << "2026-05-05T04:50:00Z" << false << "";
    }
    void catchingUp() {
        QFETCH(QByteArray, entry);
        QFETCH(QString, doneUntil);
        QFETCH(QString, startAt);
        QFETCH(bool, relayOn);
        QFETCH(QString, source);
        Rig rig(utc(qPrintable(startAt)));
        if (!doneUntil.isEmpty()) {
            QFile file(rig.statePath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QStringLiteral("{\"done_until\":%1,\"paused\":false}")
                           .arg(utc(qPrintable(doneUntil)))
                           .toUtf8());
        }
        rig.run("[schedule.Licht]\nrelays = Garten\nzone = Europe/Berlin\n" + entry);
        QCOMPARE(rig.on(5), relayOn);
        QCOMPARE(rig.lastSource(), source);
    }

    // A running program: the clock set back after an event does not run
    // it again; a suspended machine catches up on waking; a clock at 1970
    // pauses every schedule, with one line, until it is right.
    void clockJumps() {
        Rig rig(utc("2026-05-05T04:00:00Z"));
        rig.run("[schedule.Licht]\nrelays = 5\nzone = Europe/Berlin\nat = 06:30\naction = toggle\n"
                "catch_up = 2h\n"
                "[schedule.Nacht]\nrelays = 6\nzone = Europe/Berlin\nwindow = 22:00-06:00\n");
        rig.clock.runTo(utc("2026-05-05T04:31:00Z"));
        QVERIFY(rig.on(5));
        rig.clock.setTo(utc("2026-05-05T04:00:00Z")); // back half an hour
        rig.clock.runTo(utc("2026-05-05T04:40:00Z"));
        rig.clock.setTo(utc("2026-05-05T04:41:00Z")); // set again, past the event
        QVERIFY(rig.on(5));                           // toggled once, not back
        // Asleep from 21:00 to 23:00: the window's start missed, made up on waking.
        rig.clock.runTo(utc("2026-05-05T19:00:00Z"));
        rig.clock.sleepUntil(utc("2026-05-05T21:00:00Z"));
        QVERIFY(rig.on(6));
        QCOMPARE(rig.lastSource(), QStringLiteral("Zeitplan Nacht, nachgeholt, fällig 22:00"));
        // The clock at 1970: nothing switches, one line says why.
        rig.said.clear();
        const int changes = rig.changes.size();
        rig.clock.setTo(0);
        rig.clock.setTo(1000);
        QCOMPARE(rig.said.size(), 1);
        QVERIFY2(rig.said[0].contains(QStringLiteral("Zeitpläne ruhen")), qPrintable(rig.said[0]));
        QCOMPARE(rig.changes.size(), changes);
        rig.clock.setTo(utc("2026-05-06T05:00:00Z")); // right again: the window is over
        QVERIFY(!rig.on(6));
    }

    // By hand inside a window: kept until the window's next edge, said so;
    // then the schedule takes over again.
    void byHandInsideAWindow() {
        Rig rig(utc("2026-05-04T18:59:00Z"));
        rig.run("[schedule.Abend]\nrelays = Garten\nzone = Europe/Berlin\nwindow = 21:00-22:00\n");
        rig.clock.runTo(utc("2026-05-04T19:10:00Z"));
        QVERIFY(rig.on(5));
        QCOMPARE(rig.lastSource(), QStringLiteral("Zeitplan Abend"));
        QVERIFY(!carryOut(rig.core, RelayCommand::setRelay(5, false), {},
                          {ChangeSource::Kind::WindowMouse, {}}));
        QCOMPARE(rig.said.last(), QStringLiteral("Relais 5 (Garten) von Hand bis 22:00"));
        QCOMPARE(rig.runner->heldUntil(5), utc("2026-05-04T20:00:00Z"));
        rig.clock.setTo(utc("2026-05-04T19:30:00Z")); // a catch-up keeps it too
        QVERIFY(!rig.on(5));
        rig.clock.runTo(utc("2026-05-05T19:00:00Z"));
        QVERIFY(rig.on(5)); // the next day's window
        QCOMPARE(rig.runner->heldUntil(5), 0);
    }

    // A maximum on-time ends a window early: the relay stays off until the
    // window's end, also through a catch-up, and no hand is named.
    void aMaximumCutsAWindowShort() {
        Rig rig(utc("2026-05-04T18:59:00Z"));
        FakeClock coreClock;
        rig.core.setClock(&coreClock);
        rig.rules.relays[4].maxOnMs = 10 * 60 * 1000;
        rig.core.setRules(rig.rules);
        rig.run("[schedule.Abend]\nrelays = 5\nzone = Europe/Berlin\nwindow = 21:00-22:00\n");
        rig.clock.runTo(utc("2026-05-04T19:00:00Z"));
        QVERIFY(rig.on(5));
        coreClock.advance(10 * 60 * 1000);
        QVERIFY(!rig.on(5));
        QCOMPARE(rig.lastSource(), QStringLiteral("Höchstdauer erreicht"));
        rig.clock.setTo(utc("2026-05-04T19:30:00Z"));
        QVERIFY(!rig.on(5));
        QVERIFY(rig.said.filter(QStringLiteral("von Hand")).isEmpty());
        QCOMPARE(rig.runner->heldUntil(5), utc("2026-05-04T20:00:00Z"));
    }

    // Paused from any way in through the core, recorded with who did it;
    // nothing switches; the pause is kept across a restart; on resuming,
    // windows apply what they say for now, as the schedule's own change.
    void pausing() {
        const QByteArray text =
            "[schedule.Abend]\nrelays = 5\nzone = Europe/Berlin\nwindow = 21:00-22:00\n";
        Rig rig(utc("2026-05-04T18:00:00Z"));
        rig.run(text);
        QVERIFY(!carryOut(rig.core, RelayCommand::pauseSchedules(true), {},
                          {ChangeSource::Kind::DBus, {}}));
        QCOMPARE(ChangeRecord::linesFor(rig.changes.last(), rig.rules),
                 QStringList{QStringLiteral("Zeitpläne pausiert (D-Bus)")});
        rig.clock.runTo(utc("2026-05-04T19:30:00Z"));
        QVERIFY(!rig.on(5));
        Rig again(utc("2026-05-04T19:30:00Z"));
        QVERIFY(QFile::copy(rig.statePath(), again.statePath()));
        again.run(text);
        QVERIFY(again.runner->paused());
        QVERIFY(!again.on(5));
        // Paused at the start: said once, by the schedules, not as anyone's change.
        QCOMPARE(again.said, QStringList{QStringLiteral("Zeitpläne pausiert")});
        for (const RelayChange& change : again.changes) {
            QCOMPARE(ChangeRecord::linesFor(change, again.rules), QStringList());
        }
        QVERIFY(!carryOut(again.core, RelayCommand::pauseSchedules(false), {},
                          {ChangeSource::Kind::Web, QStringLiteral("Sitzung")}));
        QCOMPARE(ChangeRecord::linesFor(again.changes.last(), again.rules),
                 QStringList{QStringLiteral("Zeitpläne laufen wieder (Web (Sitzung))")});
        QCoreApplication::processEvents();
        QVERIFY(again.on(5));
        QCOMPARE(again.lastSource(), QStringLiteral("Zeitplan Abend, nachgeholt, fällig 21:00"));
        // Without schedules there is nothing to pause: a conflict, said so.
        HeadlessRelays bare(again.resolver);
        const auto none = carryOut(bare, RelayCommand::pauseSchedules(true), {}, {});
        QVERIFY(none && none->kind == Refusal::Kind::Conflict);
    }

    // Preview equals execution: random entries, fixed seeds; 30 days on the
    // fake clock switch exactly what the preview listed, when it listed it.
    void previewEqualsExecution_data() {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {5u, 17u, 301u, 4096u}) {
            QTest::addRow("seed %u", seed) << seed;
        }
    }
    void previewEqualsExecution() {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        const char* zones[] = {"Europe/Berlin", "Australia/Lord_Howe", "America/New_York", "UTC"};
        const char* days[] = {"Mo-Fr", "Sa,So", "Mo-So", "Fr-Mo", "Mi"};
        QByteArray text = "[location]\nlatitude = 52.52\nlongitude = 13.41\n";
        for (int i = 0; i < 6; ++i) {
            const auto clock = [&] {
                return QByteArray::number(random.bounded(24)).rightJustified(2, '0') + ':' +
                       QByteArray::number(random.bounded(4) * 15).rightJustified(2, '0');
            };
            text += "[schedule.E" + QByteArray::number(i) +
                    "]\nrelays = " + QByteArray::number(1 + random.bounded(4)) +
                    "\nzone = " + zones[random.bounded(4)] + "\ndays = " + days[random.bounded(5)] +
                    "\n";
            const QByteArray start = random.bounded(5) == 0 ? "sunset" : clock();
            QByteArray end = clock();
            if (end == start) {
                end = "23:59";
            }
            text += random.bounded(2) ? "window = " + start + "-" + end + "\n"
                                      : "at = " + start + "\naction = toggle\n";
        }
        Rig rig(utc("2026-03-20T00:00:00Z")); // across the spring change
        rig.run(text);
        QList<QPair<qint64, QPair<int, int>>> done;
        QObject::connect(rig.runner.get(), &ScheduleRunner::switched,
                         [&](const Occurrence& o, int relay) {
                             QCOMPARE(rig.clock.wall, o.atMs);
                             done.append({o.atMs, {o.entry, relay}});
                         });
        const qint64 end = rig.clock.wall + 30LL * 24 * 3600 * 1000;
        QList<QPair<qint64, QPair<int, int>>> listed;
        for (const PreviewRow& row :
             previewRows(rig.runner->schedules(), rig.rules, rig.clock.wall + 1, 30)) {
            if (row.fires && row.atMs <= end) {
                listed.append({row.atMs, {row.entry, row.relay}});
            }
        }
        rig.clock.runTo(end);
        QVERIFY(!listed.isEmpty());
        QCOMPARE(done, listed);
    }
};

QTEST_GUILESS_MAIN(TestSchedules)
#include "test_schedules.moc"
