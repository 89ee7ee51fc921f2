// The web panel's logic without a server: the API's answers over stand-in
// relays, the listen address, the lock-out, and the login store's files.

#include "login_store.h"
#include "login_throttle.h"
#include "panel_api.h"
#include "serial_control.h"
#include "web_options.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace relais;
using namespace relais::web;

namespace {

// Relays as the window would hold them; startOn fails with `startError`.
struct StandInRelays : RelayOperations {
    quint16 mask = 0;
    bool running = false;
    QString device;
    int startError = 0;
    std::optional<PortSpec> known;
    void setRelay(int relay, bool on) override {
        mask = on ? quint16(mask | (1u << (relay - 1))) : quint16(mask & ~(1u << (relay - 1)));
    }
    void setRelays(quint16 m) override { mask = m; }
    quint16 relays() const override { return mask; }
    bool isRunning() const override { return running; }
    QString portInUse() const override { return running ? device : QString(); }
    void startOn(const PortSpec& port) override {
        if (startError != 0) {
            throw CommError(startError, QStringLiteral("/dev/ttyUSB1"), QStringLiteral("busy"));
        }
        running = true;
        device =
            port.number > 0 ? QStringLiteral("/dev/ttyUSB%1").arg(port.number - 1) : port.device;
        known = port;
    }
    std::optional<PortSpec> knownPort() const override { return known; }
    void stop() override { running = false; }
    void watch(QObject*, std::function<void()>) override {}
};

QStringList twoPorts() {
    return {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB1")};
}

QJsonObject json(const QByteArray& body) {
    return QJsonDocument::fromJson(body).object();
}

} // namespace

class TestWeb : public QObject {
    Q_OBJECT

private slots:
    void api_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("maskAfter");     // starting from relay 1 on
        QTest::addColumn<QString>("portAfter"); // null as "-"
        QTest::addColumn<QString>("says");      // part of the error

        const auto row = [](const char* name, QByteArray method, QString path, QByteArray body,
                            int status, int mask, QString port = QStringLiteral("-"),
                            QString says = {}) {
            QTest::newRow(name) << method << path << body << status << mask << port << says;
        };
        row("state", "GET", "/api/state", {}, 200, 1);
        row("relay on", "PUT", "/api/relays/16", R"({"on":true})", 200, 0x8001);
        row("relay off", "PUT", "/api/relays/1", R"({"on":false})", 200, 0);
        row("toggle", "POST", "/api/relays/1/toggle", {}, 200, 0);
        row("toggle 2", "POST", "/api/relays/2/toggle", "{}", 200, 3);
        row("mask", "PUT", "/api/relays", R"({"mask":65535})", 200, 65535);
        row("mask as 4.0", "PUT", "/api/relays", R"({"mask":4.0})", 200, 4);
        row("start on COM 2", "POST", "/api/link", R"({"port":"COM 2"})", 200, 1, "COM 2");
        row("start on COM2", "POST", "/api/link", R"({"port":"com2"})", 200, 1, "COM 2");
        row("start on 1", "POST", "/api/link", R"({"port":1})", 200, 1, "COM 1");
        row("start on a listed device", "POST", "/api/link", R"({"port":"/dev/ttyUSB1"})", 200, 1,
            "COM 2");
        row("stop", "DELETE", "/api/link", {}, 200, 1);
        // Bad input changes nothing.
        row("not JSON", "PUT", "/api/relays", "mask=3", 400, 1, "-", "JSON");
        row("JSON array", "PUT", "/api/relays", "[3]", 400, 1, "-", "JSON");
        row("mask too big", "PUT", "/api/relays", R"({"mask":65536})", 400, 1, "-", "65535");
        row("mask negative", "PUT", "/api/relays", R"({"mask":-1})", 400, 1, "-", "65535");
        row("mask fraction", "PUT", "/api/relays", R"({"mask":1.5})", 400, 1, "-", "65535");
        row("mask as text", "PUT", "/api/relays", R"({"mask":"3"})", 400, 1, "-", "65535");
        row("on as number", "PUT", "/api/relays/3", R"({"on":1})", 400, 1, "-", "true");
        row("on missing", "PUT", "/api/relays/3", "{}", 400, 1, "-", "true");
        row("invalid UTF-8", "PUT", "/api/relays/3", "{\"on\":\"\xff\xfe\"}", 400, 1, "-");
        row("empty body", "PUT", "/api/relays/3", {}, 400, 1, "-", "JSON");
        row("relay 0", "PUT", "/api/relays/0", R"({"on":true})", 404, 1, "-", "1 bis 16");
        row("relay 17", "POST", "/api/relays/17/toggle", {}, 404, 1, "-", "1 bis 16");
        row("COM 9", "POST", "/api/link", R"({"port":"COM 9"})", 400, 1, "-", "COM 1 bis COM 8");
        row("port 0", "POST", "/api/link", R"({"port":0})", 400, 1, "-", "COM 1 bis COM 8");
        row("a pseudo-terminal", "POST", "/api/link", R"({"port":"/dev/pts/3"})", 200, 1,
            "/dev/pts/3");
        row("a USB adapter by id", "POST", "/api/link",
            R"({"port":"/dev/serial/by-id/usb-FTDI_A1-if00-port0"})", 200, 1,
            "/dev/serial/by-id/usb-FTDI_A1-if00-port0");
        // From the network, nothing a path could name but a serial line.
        for (const char* path : {"/dev/sda", "/dev/watchdog", "/dev/../dev/ttyS0",
                                 "/dev/serial/by-id/../../sda", "/etc/passwd"}) {
            row(path, "POST", "/api/link", QStringLiteral(R"({"port":"%1"})").arg(path).toUtf8(),
                400, 1, "-", "COM 1 bis COM 8");
        }
        row("no port known yet", "POST", "/api/link", "{}", 400, 1, "-", "Schnittstelle");
        row("unknown path", "GET", "/api/nothing", {}, 404, 1, "-", "Pfad");
        row("dot dot", "GET", "/api/../state", {}, 404, 1, "-", "Pfad");
        row("wrong method", "DELETE", "/api/state", {}, 405, 1, "-", "Methode");
        row("get on a relay", "GET", "/api/relays/3", {}, 405, 1, "-", "Methode");
    }
    void api() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, maskAfter);
        QFETCH(QString, portAfter);
        QFETCH(QString, says);
        StandInRelays relays;
        relays.mask = 1;
        relays.running = path == QLatin1String("/api/link") && method == "DELETE";
        PanelApi api(relays, twoPorts);
        const ApiReply reply = api.handle({method, path, body});
        QCOMPARE(reply.status, status);
        QCOMPARE(int(relays.mask), maskAfter);
        const QJsonObject answer = json(reply.body);
        if (status != 200) {
            QVERIFY2(answer.value("error").toString().contains(says), reply.body.constData());
            QCOMPARE(reply.allow.isEmpty(), status != 405);
            return;
        }
        // Every answer is the state after the change.
        QCOMPARE(answer.value("mask").toInt(), maskAfter);
        const QJsonArray list = answer.value("relays").toArray();
        QCOMPARE(list.size(), 16);
        for (int i = 0; i < 16; ++i) {
            QCOMPARE(list[i].toBool(), bool(maskAfter & (1 << i)));
        }
        QCOMPARE(answer.value("link").toString(),
                 portAfter == "-" ? QStringLiteral("stopped") : QStringLiteral("running"));
        QCOMPARE(answer.value("port").isNull() ? QStringLiteral("-")
                                               : answer.value("port").toString(),
                 portAfter);
    }

    // A failed start: 409 with the message's own text and its detail, and
    // the link still stopped; a start while running elsewhere is refused.
    void failedStart_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("detail");
        QTest::newRow("missing") << int(kErrPortNotFound)
                                 << "Ausgewählte COM Schnittstelle nicht vorhanden"
                                 << "/dev/ttyUSB1: busy";
        QTest::newRow("busy") << int(kErrPortInUse)
                              << "Ausgewählte COM Schnittstelle wird bereits verwendet"
                              << "/dev/ttyUSB1: busy";
        QTest::newRow("denied") << int(kErrPermissionDenied)
                                << "Keine Berechtigung für die ausgewählte COM Schnittstelle"
                                << "/dev/ttyUSB1: busy";
    }
    void failedStart() {
        QFETCH(int, error);
        QFETCH(QString, text);
        QFETCH(QString, detail);
        StandInRelays relays;
        relays.startError = error;
        PanelApi api(relays, twoPorts);
        const ApiReply reply = api.handle({"POST", "/api/link", R"({"port":"COM 2"})"});
        QCOMPARE(reply.status, 409);
        QCOMPARE(json(reply.body).value("error").toString(), text);
        QCOMPARE(json(reply.body).value("detail").toString(), detail);
        QVERIFY(!relays.running);
    }
    void startWhileRunning() {
        StandInRelays relays;
        PanelApi api(relays, twoPorts);
        QCOMPARE(api.handle({"POST", "/api/link", R"({"port":"COM 1"})"}).status, 200);
        QCOMPARE(api.handle({"POST", "/api/link", R"({"port":"COM 1"})"}).status, 200);
        QCOMPARE(api.handle({"POST", "/api/link", R"({"port":"COM 2"})"}).status, 409);
        QCOMPARE(relays.device, QStringLiteral("/dev/ttyUSB0"));
        // Stopped, the next start without a port takes the one last used.
        api.handle({"DELETE", "/api/link", {}});
        QCOMPARE(json(api.handle({"POST", "/api/link", {}}).body).value("port").toString(),
                 QStringLiteral("COM 1"));
    }
    void revisionGrows() {
        StandInRelays relays;
        PanelApi api(relays, twoPorts);
        const int before = json(api.stateJson()).value("revision").toInt();
        api.changed();
        api.changed();
        QCOMPARE(json(api.stateJson()).value("revision").toInt(), before + 2);
    }
    void ports() {
        StandInRelays relays;
        PanelApi api(relays, [] { return QStringList{QString(), QStringLiteral("/dev/ttyACM0")}; });
        const QJsonArray list = QJsonDocument::fromJson(api.portsJson()).array();
        QCOMPARE(list.size(), 8);
        QCOMPARE(list[0].toObject().value("name").toString(), QStringLiteral("COM 1"));
        QVERIFY(list[0].toObject().value("device").isNull());
        QVERIFY(!list[0].toObject().value("present").toBool());
        QCOMPARE(list[1].toObject().value("device").toString(), QStringLiteral("/dev/ttyACM0"));
        QVERIFY(list[1].toObject().value("present").toBool());
        QVERIFY(!list[7].toObject().value("present").toBool());
    }

    void listenAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("loopback");
        QTest::addColumn<bool>("tls"); // without a certificate of one's own
        QTest::newRow("port alone") << "8443" << true << "" << 8443 << false << true;
        QTest::newRow("IPv4 loopback")
            << "127.0.0.1:8080" << true << "127.0.0.1" << 8080 << true << false;
        QTest::newRow("127.1.2.3") << "127.1.2.3:80" << true << "127.1.2.3" << 80 << true << false;
        QTest::newRow("IPv6 loopback") << "[::1]:8080" << true << "::1" << 8080 << true << false;
        QTest::newRow("localhost") << "localhost:1" << true << "localhost" << 1 << true << false;
        QTest::newRow("house network")
            << "192.168.1.5:8443" << true << "192.168.1.5" << 8443 << false << true;
        QTest::newRow("IPv6 any") << "[::]:8443" << true << "::" << 8443 << false << true;
        QTest::newRow("port 0") << "0" << false << "" << 0 << false << false;
        QTest::newRow("port too big") << "65536" << false << "" << 0 << false << false;
        QTest::newRow("plus sign") << "+80" << false << "" << 0 << false << false;
        QTest::newRow("a name") << "example.org:80" << false << "" << 0 << false << false;
        QTest::newRow("IPv4 out of range") << "256.1.1.1:80" << false << "" << 0 << false << false;
        QTest::newRow("IPv6 without brackets") << "::1:80" << false << "" << 0 << false << false;
        QTest::newRow("no port") << "127.0.0.1:" << false << "" << 0 << false << false;
        QTest::newRow("empty host") << ":80" << false << "" << 0 << false << false;
    }
    void listenAddress() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(bool, loopback);
        QFETCH(bool, tls);
        PanelOptions options;
        const auto error = parseListenAddress(text, options);
        QCOMPARE(!error.has_value(), valid);
        if (!valid) {
            QVERIFY(error->contains(text));
            return;
        }
        QCOMPARE(options.address, address);
        QCOMPARE(int(options.port), port);
        QCOMPARE(isLoopback(options.address), loopback);
        QCOMPARE(usesTls(options), tls);
        options.plainHttp = true;
        QVERIFY(!usesTls(options));
    }

    // Five wrong passwords within ten minutes lock one address out for ten
    // minutes; other addresses and slower guessing are not affected.
    void lockOut_data() {
        QTest::addColumn<QList<qint64>>("failures"); // seconds of the wrong passwords
        QTest::addColumn<qint64>("askedAt");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<int>("lockOuts"); // each logged once
        QTest::newRow("four") << QList<qint64>{0, 1, 2, 3} << qint64(4) << true << 0;
        QTest::newRow("five") << QList<qint64>{0, 1, 2, 3, 4} << qint64(5) << false << 1;
        QTest::newRow("seven") << QList<qint64>{0, 1, 2, 3, 4, 5, 6} << qint64(7) << false << 1;
        QTest::newRow("five, nearly ten minutes later")
            << QList<qint64>{0, 1, 2, 3, 4} << qint64(603) << false << 1;
        QTest::newRow("five, ten minutes later")
            << QList<qint64>{0, 1, 2, 3, 4} << qint64(604) << true << 1;
        QTest::newRow("five spread over more than ten minutes")
            << QList<qint64>{0, 200, 400, 599, 601} << qint64(602) << true << 0;
    }
    void lockOut() {
        QFETCH(QList<qint64>, failures);
        QFETCH(qint64, askedAt);
        QFETCH(bool, allowed);
        QFETCH(int, lockOuts);
        LoginThrottle throttle;
        int logged = 0;
        for (qint64 t : failures) {
            logged += throttle.failed(QStringLiteral("10.0.0.9"), t);
        }
        QCOMPARE(logged, lockOuts);
        QCOMPARE(throttle.allows(QStringLiteral("10.0.0.9"), askedAt), allowed);
        QVERIFY(throttle.allows(QStringLiteral("10.0.0.8"), askedAt));
    }
    void successForgetsFailures() {
        LoginThrottle throttle;
        for (int i = 0; i < 4; ++i) {
            throttle.failed(QStringLiteral("a"), i);
        }
        throttle.succeeded(QStringLiteral("a"));
        QVERIFY(!throttle.failed(QStringLiteral("a"), 5));
        QVERIFY(throttle.allows(QStringLiteral("a"), 5));
    }

    void passwords_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("tried");
        QTest::addColumn<bool>("accepted");
        const QByteArray hash = hashPassword("richtig-lang");
        QTest::newRow("right") << hash << QByteArray("richtig-lang") << true;
        QTest::newRow("wrong") << hash << QByteArray("richtig-lanG") << false;
        QTest::newRow("empty") << hash << QByteArray() << false;
        QTest::newRow("umlauts") << hashPassword("grüße-aus-köln") << QByteArray("grüße-aus-köln")
                                 << true;
        QTest::newRow("no file") << QByteArray() << QByteArray() << false;
        QTest::newRow("broken line") << QByteArray("scrypt$15$8$1$$") << QByteArray() << false;
        QTest::newRow("plain text stored")
            << QByteArray("richtig-lang") << QByteArray("richtig-lang") << false;
        // A file asking for absurd work is broken, not obeyed.
        QTest::newRow("absurd cost")
            << QByteArray("scrypt$40$8$1$AAAA$AAAA") << QByteArray("x") << false;
    }
    void passwords() {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, tried);
        QFETCH(bool, accepted);
        QCOMPARE(verifyPassword(tried, stored), accepted);
        if (!stored.isEmpty() && stored.startsWith("scrypt$15")) {
            QVERIFY(!stored.contains(tried) || tried.isEmpty()); // never the password itself
        }
    }
    void twoHashesOfOnePasswordDiffer() {
        QVERIFY(hashPassword("gleich-lang") != hashPassword("gleich-lang"));
    }

    // Tokens: shown once, kept only as digests, in a file only its owner may
    // read; a revoked token is refused at once.
    void tokens() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("store/web-password.tokens"));
        const TokenFile file(path);
        QString error;
        const QByteArray ci = file.add(QStringLiteral("ci"), error);
        QVERIFY2(ci.size() >= 43, qPrintable(error)); // 256 bits
        const QByteArray phone = file.add(QStringLiteral("phone.2"), error);
        QVERIFY(file.add(QStringLiteral("ci"), error).isEmpty());
        QVERIFY(error.contains(QStringLiteral("»ci«")));
        for (const char* bad : {"", "with space", "a/b", "ä"}) {
            QVERIFY2(file.add(QString::fromUtf8(bad), error).isEmpty(), bad);
        }
        QCOMPARE(file.names(), (QStringList{"ci", "phone.2"}));
        QVERIFY(file.accepts(ci));
        QVERIFY(file.accepts(phone));
        QVERIFY(!file.accepts(ci + "x"));
        QVERIFY(!file.accepts(QByteArray()));
        QFile stored(path);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(!stored.readAll().contains(ci));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QVERIFY(file.revoke(QStringLiteral("ci"), error));
        QVERIFY(!file.accepts(ci));
        QVERIFY(file.accepts(phone));
        QVERIFY(!file.revoke(QStringLiteral("ci"), error));
    }

    // Sessions outlive a restart, end at logout or after 30 days unused.
    void sessions() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("web-password.sessions"));
        const qint64 day = 24 * 3600;
        QByteArray kept, idle, closed;
        {
            SessionStore store(path);
            kept = store.open(0);
            idle = store.open(0);
            closed = store.open(0);
            QVERIFY(store.use(kept, 20 * day));
            store.close(closed);
            store.save(20 * day, true);
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains(kept)); // digests only
        SessionStore restarted(path);
        QVERIFY(restarted.use(kept, 49 * day));
        QVERIFY(!restarted.use(idle, 31 * day));
        QVERIFY(!restarted.use(closed, 21 * day));
        QVERIFY(!restarted.use("made-up", 21 * day));
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "test_web.moc"
