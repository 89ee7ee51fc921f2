// The web panel's logic without a server: the API's answers over stand-in
// relays, the listen address, the lock-out, and the login store's files.

#include "client_address.h"
#include "login_store.h"
#include "login_throttle.h"
#include "network_ports.h"
#include "panel_api.h"
#include "port_directory.h"
#include "relay_command.h"
#include "relays_thread.h"
#include "serial_control.h"
#include "stand_in_relays.h"
#include "web_options.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <thread>

#include <sys/stat.h>

using namespace relais;
using namespace relais::web;

namespace {

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
        row("a USB adapter by id", "POST", "/api/link",
            R"({"port":"/dev/serial/by-id/usb-FTDI_A1-if00-port0"})", 200, 1,
            "/dev/serial/by-id/usb-FTDI_A1-if00-port0");
        // From the network, nothing a path could name but a serial line.
        for (const char* path :
             {"/dev/sda", "/dev/watchdog", "/dev/../dev/ttyS0", "/dev/serial/by-id/../../sda",
              "/etc/passwd", "/dev/pts/3", "/dev/null", "/dev/ttyS0"}) {
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
    // One command is one revision, however many relays it switched; a
    // command that changes nothing leaves it; the change names the caller.
    void revisionGrows() {
        StandInRelays relays;
        PanelApi api(relays, twoPorts);
        const auto revision = [&](const ApiReply& reply) {
            return json(reply.body).value("revision").toInt();
        };
        const int before = revision(api.handle({"GET", "/api/state", {}}));
        QCOMPARE(revision(api.handle({"PUT", "/api/relays", R"({"mask":65535})", "Token ci"})),
                 before + 1);
        QCOMPARE(relays.lastSource.text(), QStringLiteral("Web (Token ci)"));
        QCOMPARE(revision(api.handle({"PUT", "/api/relays", R"({"mask":65535})"})), before + 1);
        QCOMPARE(revision(api.handle({"POST", "/api/relays/3/toggle", {}})), before + 2);
    }
    void ports() {
        StandInRelays relays;
        PanelApi api(relays, [] { return QStringList{QString(), QStringLiteral("/dev/ttyACM0")}; });
        const QJsonArray list =
            QJsonDocument::fromJson(
                PanelApi::portsJson({QString(), QStringLiteral("/dev/ttyACM0")}))
                .array();
        QCOMPARE(list.size(), 8);
        QCOMPARE(list[0].toObject().value("name").toString(), QStringLiteral("COM 1"));
        QVERIFY(list[0].toObject().value("device").isNull());
        QVERIFY(!list[0].toObject().value("present").toBool());
        QCOMPARE(list[1].toObject().value("device").toString(), QStringLiteral("/dev/ttyACM0"));
        QVERIFY(list[1].toObject().value("present").toBool());
        QVERIFY(!list[7].toObject().value("present").toBool());
    }

    // What the network may open: COM 1 to COM 8 and the devices behind
    // them, udev's stable serial names, and the port the program knows;
    // nothing else, another terminal included.
    void networkPorts_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("known"); // "" for none
        QTest::addColumn<bool>("allowed");
        QTest::newRow("COM 3") << "COM 3"
                               << "" << true;
        QTest::newRow("behind COM 2") << "/dev/ttyUSB1"
                                      << "" << true;
        QTest::newRow("by id") << "/dev/serial/by-id/usb-FTDI_A1-if00-port0"
                               << "" << true;
        QTest::newRow("by path") << "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
                                 << "" << true;
        QTest::newRow("the known pty") << "/dev/pts/7"
                                       << "/dev/pts/7" << true;
        QTest::newRow("another pty") << "/dev/pts/8"
                                     << "/dev/pts/7" << false;
        QTest::newRow("known only as COM 1") << "/dev/pts/8"
                                             << "COM 1" << false;
        QTest::newRow("an unlisted ttyS") << "/dev/ttyS4"
                                          << "" << false;
        QTest::newRow("watchdog") << "/dev/watchdog"
                                  << "" << false;
        QTest::newRow("a file") << "/etc/shadow"
                                << "" << false;
        QTest::newRow("null") << "/dev/null"
                              << "" << false;
        QTest::newRow("by id, up") << "/dev/serial/by-id/.."
                                   << "" << false;
        QTest::newRow("by id, deeper") << "/dev/serial/by-id/a/b"
                                       << "" << false;
        QTest::newRow("by id, out") << "/dev/serial/by-id/../../sda"
                                    << "" << false;
    }
    void networkPorts() {
        QFETCH(QString, port);
        QFETCH(QString, known);
        QFETCH(bool, allowed);
        const std::optional<PortSpec> named = parsePortSpec(port);
        QVERIFY(named);
        const auto knownPort = known.isEmpty() ? std::nullopt : parsePortSpec(known);
        QCOMPARE(allowedFromNetwork(*named, twoPorts(), knownPort), allowed);
    }
    // The one set of commands, carried out by the core the same for every
    // way in: the state after, or the kind of refusal and a word of its text.
    void commands_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("running"); // on /dev/ttyUSB0 (COM 1) before
        QTest::addColumn<int>("startError");
        QTest::addColumn<int>("refusal"); // -1 none, else Refusal::Kind
        QTest::addColumn<QString>("says");
        QTest::addColumn<int>("maskAfter"); // from relay 1 on
        QTest::addColumn<QString>("deviceAfter");
        const int none = -1, bad = int(Refusal::Kind::BadArgument),
                  conflict = int(Refusal::Kind::Conflict), port = int(Refusal::Kind::PortError);
        const auto row = [](const char* name, const char* command, bool running, int error,
                            int refusal, const char* says, int mask, const char* device) {
            QTest::newRow(name) << command << running << error << refusal << says << mask << device;
        };
        row("relay on", "set 16 1", false, 0, none, "", 0x8001, "");
        row("relay 0", "set 0 1", false, 0, bad, "1 bis 16", 1, "");
        row("relay 17", "toggle 17", false, 0, bad, "1 bis 16", 1, "");
        row("toggle", "toggle 1", false, 0, none, "", 0, "");
        row("all", "all 65535", false, 0, none, "", 0xFFFF, "");
        row("mask too big", "all 65536", false, 0, bad, "65535", 1, "");
        row("mask negative", "all -1", false, 0, bad, "65535", 1, "");
        row("start", "start COM 2 local", false, 0, none, "", 1, "/dev/ttyUSB1");
        row("start a path", "start /dev/pts/4 local", false, 0, none, "", 1, "/dev/pts/4");
        row("a pty from the network", "start /dev/pts/4 net", false, 0, bad, "COM 1 bis COM 8", 1,
            "");
        row("COM 9", "start COM 9 local", false, 0, bad, "COM 1 bis COM 8", 1, "");
        row("no port known", "start", false, 0, bad, "Keine Schnittstelle", 1, "");
        row("a failed opening", "start COM 2 net", false, int(kErrPortInUse), port,
            "bereits verwendet", 1, "");
        row("the port in use", "start COM 1 net", true, 0, none, "", 1, "/dev/ttyUSB0");
        row("the device in use", "start /dev/ttyUSB0 net", true, 0, none, "", 1, "/dev/ttyUSB0");
        row("another port while running", "start COM 2 local", true, 0, conflict,
            "läuft schon auf /dev/ttyUSB0", 1, "/dev/ttyUSB0");
        row("stop", "stop", true, 0, none, "", 1, "");
    }
    void commands() {
        QFETCH(QString, command);
        QFETCH(bool, running);
        QFETCH(int, startError);
        QFETCH(int, refusal);
        QFETCH(QString, says);
        QFETCH(int, maskAfter);
        QFETCH(QString, deviceAfter);
        StandInRelays relays;
        relays.mask = 1;
        relays.running = running;
        relays.device = running ? QStringLiteral("/dev/ttyUSB0") : QString();
        relays.startError = startError;
        const QStringList words = command.split(' ');
        const bool net = words.last() == QLatin1String("net");
        const QString port = words.mid(1, words.size() - 2).join(' ');
        const RelayCommand::Made made =
            words[0] == "set"      ? RelayCommand::setRelay(words[1].toLongLong(), words[2] == "1")
            : words[0] == "toggle" ? RelayCommand::toggleRelay(words[1].toLongLong())
            : words[0] == "all"    ? RelayCommand::setAll(words[1].toLongLong())
            : words[0] == "start"  ? RelayCommand::start(port, net)
                                   : RelayCommand::Made(RelayCommand::stop());
        const std::optional<Refusal> refused = carryOut(relays, made, twoPorts, {});
        QCOMPARE(refused ? int(refused->kind) : -1, refusal);
        if (refused) {
            QVERIFY2(refused->text.contains(says), qPrintable(refused->text));
        }
        QCOMPARE(int(relays.mask), maskAfter);
        QCOMPARE(relays.portInUse(), deviceAfter);
    }
    // Work handed to the relays' thread runs there; once it has ended,
    // nothing more runs and a caller still waiting gives up at once.
    void relaysThreadHandOff() {
        QObject owner;
        RelaysThread relaysThread(&owner);
        const auto ownerThread = QThread::currentThread();
        std::atomic<bool> ranThere{false};
        QVERIFY(relaysThread.post([&] { ranThere = QThread::currentThread() == ownerThread; }));
        QTRY_VERIFY(ranThere);
        std::optional<int> answer;
        std::atomic<bool> answered{false};
        std::thread caller([&] {
            answer = relaysThread.call<int>([] { return 42; }, std::chrono::seconds(30));
            answered = true;
        });
        QTRY_VERIFY(answered); // the owner's events run the job meanwhile
        caller.join();
        QCOMPARE(answer, std::optional<int>(42));
        std::atomic<bool> lateRan{false};
        std::optional<int> late;
        std::thread waiting([&] {
            late = relaysThread.call<int>(
                [&] {
                    lateRan = true;
                    return 1;
                },
                std::chrono::seconds(30));
        });
        relaysThread.end(); // no events run here: the caller can only give up
        waiting.join();
        QVERIFY(!late);
        QVERIFY(!relaysThread.post([] {}));
        QCoreApplication::processEvents();
        QVERIFY(!lateRan);
    }

    // Watchers hear of one command once, of a change outside one at once.
    void oneChangePerCommand() {
        int told = 0;
        ChangeGate gate([&] { ++told; });
        gate.asOne([&] {
            for (int i = 0; i < 16; ++i) {
                gate.changed();
            }
        });
        QCOMPARE(told, 1);
        gate.asOne([] {});
        QCOMPARE(told, 1);
        gate.changed();
        QCOMPARE(told, 2);
    }

    // The OpenAPI document and the server agree: every route is documented,
    // and every documented path and method is served.
    void openApiMatchesTheRoutes() {
        QFile file(QStringLiteral(OPENAPI_PATH));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject paths = json(file.readAll()).value("paths").toObject();
        QSet<QString> documented;
        for (auto path = paths.begin(); path != paths.end(); ++path) {
            const QJsonObject methods = path.value().toObject();
            for (auto method = methods.begin(); method != methods.end(); ++method) {
                if (method.key() != QLatin1String("parameters")) {
                    documented << method.key().toUpper() + ' ' + path.key();
                }
            }
        }
        // What the server answers itself, beside the API's table.
        QSet<QString> served{"GET /api/events", "POST /login", "POST /logout",
                             "GET /api/openapi.json"};
        for (const PanelApi::Route& route : PanelApi::routes()) {
            served << QString::fromLatin1(route.method) + ' ' + route.path;
        }
        QCOMPARE(documented, served);
    }

    // The API takes the known port, and refuses another terminal.
    void apiTakesTheKnownPort() {
        StandInRelays relays;
        relays.known = PortSpec{0, QStringLiteral("/dev/pts/7")};
        PanelApi api(relays, twoPorts);
        QCOMPARE(api.handle({"POST", "/api/link", R"({"port":"/dev/pts/8"})"}).status, 400);
        QVERIFY(!relays.running);
        QCOMPARE(api.handle({"POST", "/api/link", R"({"port":"/dev/pts/7"})"}).status, 200);
        QCOMPARE(relays.device, QStringLiteral("/dev/pts/7"));
    }
    // The port list is asked for once per age, off the caller's thread,
    // while the last list is served; the first call waits for one, and calls
    // during a refresh ask for no second one.
    void portDirectory() {
        std::atomic<int> asked{0};
        std::atomic<qint64> clock{0};
        std::mutex gate;
        std::condition_variable opened;
        bool open = true;
        const auto now = [&clock] {
            return PortDirectory::Clock::time_point(std::chrono::milliseconds(clock.load()));
        };
        const auto thread = QThread::currentThread();
        std::atomic<bool> offThread{true};
        PortDirectory directory(
            [&] {
                offThread = offThread && QThread::currentThread() != thread;
                const int n = ++asked;
                std::unique_lock lock(gate);
                opened.wait(lock, [&] { return open; });
                return QStringList{QStringLiteral("/dev/ttyUSB%1").arg(n)};
            },
            std::chrono::seconds(5), now);
        QCOMPARE(directory.devices(), QStringList{"/dev/ttyUSB1"});
        QCOMPARE(directory.devices(), QStringList{"/dev/ttyUSB1"});
        QCOMPARE(asked.load(), 1);
        {
            std::lock_guard lock(gate);
            open = false;
        }
        clock = 6000;
        QCOMPARE(directory.devices(), QStringList{"/dev/ttyUSB1"}); // stale, served meanwhile
        QTRY_COMPARE(asked.load(), 2);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(directory.devices(), QStringList{"/dev/ttyUSB1"});
        }
        {
            std::lock_guard lock(gate);
            open = true;
        }
        opened.notify_all();
        QTRY_COMPARE(directory.devices(), QStringList{"/dev/ttyUSB2"});
        QCOMPARE(asked.load(), 2);
        QVERIFY(offThread);
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

    // Every attempt counts before its check: at most five wrong ones are
    // checked per client within ten minutes, however many come at once; a
    // right one lifts the count. Times in seconds.
    void lockOut_data() {
        QTest::addColumn<QList<qint64>>("wrong"); // attempts begun, each found wrong
        QTest::addColumn<int>("atOnce");          // attempts begun before any is checked
        QTest::addColumn<qint64>("askedAt");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<int>("checked");
        QTest::addColumn<int>("lockOuts"); // each said once
        QTest::newRow("four") << QList<qint64>{0, 1, 2, 3} << 0 << qint64(4) << true << 4 << 0;
        QTest::newRow("five") << QList<qint64>{0, 1, 2, 3, 4} << 0 << qint64(5) << false << 5 << 1;
        QTest::newRow("seven") << QList<qint64>{0, 1, 2, 3, 4, 5, 6} << 0 << qint64(7) << false << 5
                               << 1;
        QTest::newRow("forty at once") << QList<qint64>{} << 40 << qint64(1) << false << 5 << 1;
        QTest::newRow("five, nearly ten minutes later")
            << QList<qint64>{0, 1, 2, 3, 4} << 0 << qint64(603) << false << 5 << 1;
        QTest::newRow("five, ten minutes later")
            << QList<qint64>{0, 1, 2, 3, 4} << 0 << qint64(604) << true << 5 << 1;
        QTest::newRow("five spread over more than ten minutes")
            << QList<qint64>{0, 200, 400, 599, 601} << 0 << qint64(602) << true << 5 << 0;
    }
    void lockOut() {
        QFETCH(QList<qint64>, wrong);
        QFETCH(int, atOnce);
        QFETCH(qint64, askedAt);
        QFETCH(bool, allowed);
        QFETCH(int, checked);
        QFETCH(int, lockOuts);
        using V = LoginThrottle::Verdict;
        const QString client = QStringLiteral("10.0.0.9");
        LoginThrottle throttle;
        int logged = 0, passed = 0;
        for (qint64 t : wrong) {
            if (throttle.attempt(client, t * 1000, true) == V::Check) {
                ++passed;
                logged += throttle.failed(client, t * 1000, true);
            }
        }
        QList<bool> pending;
        for (int i = 0; i < atOnce; ++i) {
            pending.append(throttle.attempt(client, 0, true) == V::Check);
        }
        for (bool check : pending) {
            passed += check;
            logged += check && throttle.failed(client, 0, true);
        }
        QCOMPARE(passed, checked);
        QCOMPARE(logged, lockOuts);
        QCOMPARE(throttle.attempt(client, askedAt * 1000, false) == V::Check, allowed);
        QCOMPARE(throttle.attempt(QStringLiteral("10.0.0.8"), askedAt * 1000, false), V::Check);
    }
    void successForgetsFailures() {
        LoginThrottle throttle;
        const QString client = QStringLiteral("a");
        for (int i = 0; i < 4; ++i) {
            throttle.attempt(client, i, true);
            throttle.failed(client, i, true);
        }
        QCOMPARE(throttle.attempt(client, 5, true), LoginThrottle::Verdict::Check);
        throttle.succeeded(client);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(throttle.attempt(client, 6 + i, true), LoginThrottle::Verdict::Check);
            QVERIFY(!throttle.failed(client, 6 + i, true));
        }
    }
    // Twenty wrong passwords from anywhere within ten minutes space every
    // password check two seconds apart until the count falls; tokens are
    // not held up.
    void crowdIsSlowedDown() {
        using V = LoginThrottle::Verdict;
        LoginThrottle throttle;
        for (int i = 0; i < LoginThrottle::kCrowdAttempts; ++i) {
            const QString client = QStringLiteral("10.0.%1.1").arg(i);
            QCOMPARE(throttle.attempt(client, i, true), V::Check);
            throttle.failed(client, i, true);
        }
        const QString owner = QStringLiteral("192.168.1.2");
        QCOMPARE(throttle.attempt(owner, 100, true), V::Check);
        throttle.succeeded(owner);
        QCOMPARE(throttle.attempt(QStringLiteral("10.9.9.9"), 1000, true), V::Wait);
        QCOMPARE(throttle.waitMs(1000), qint64(1100));
        QCOMPARE(throttle.attempt(QStringLiteral("10.9.9.9"), 2100, true), V::Check);
        QCOMPARE(throttle.attempt(owner, 2200, false), V::Check); // a token
        // Ten minutes after the wrong ones, checks run freely again.
        QCOMPARE(throttle.attempt(owner, 600'020, true), V::Check);
        QCOMPARE(throttle.attempt(owner, 600'021, true), V::Check);
    }
    // However many clients guess, the throttle remembers at most 10,000, the
    // longest quiet forgotten first, and a locked client stays locked.
    void memoryIsBounded() {
        LoginThrottle throttle;
        const QString locked = QStringLiteral("10.255.255.255");
        for (int i = 0; i < LoginThrottle::kAttempts; ++i) {
            throttle.attempt(locked, 0, false);
        }
        for (int i = 0; i < 3 * LoginThrottle::kClients; ++i) {
            const QString client =
                QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
            throttle.attempt(client, 1, false);
            if (i % 1000 == 0) {
                QCOMPARE(throttle.attempt(locked, 1, false), LoginThrottle::Verdict::Locked);
            }
            QVERIFY(throttle.clientsRemembered() <= LoginThrottle::kClients);
        }
        // Quiet for longer than any lock: all forgotten at the next call.
        throttle.attempt(locked, 1'300'000, false);
        QCOMPARE(throttle.clientsRemembered(), 1);
    }

    void clientKeys_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("key");
        QTest::newRow("IPv4") << "192.168.1.7"
                              << "192.168.1.7";
        QTest::newRow("IPv4-mapped") << "::ffff:192.168.1.7"
                                     << "192.168.1.7";
        QTest::newRow("IPv6 /64") << "2001:db8:1:2:aaaa:bbbb:cccc:dddd"
                                  << "2001:db8:1:2::/64";
        QTest::newRow("same /64") << "2001:db8:1:2::1"
                                  << "2001:db8:1:2::/64";
        QTest::newRow("loopback") << "::1"
                                  << "::/64";
        QTest::newRow("not an address") << ""
                                        << "";
    }
    void clientKeys() {
        QFETCH(QString, address);
        QFETCH(QString, key);
        QCOMPARE(addressKey(address), key);
    }
    void connectionsPerClient() {
        ConnectionsPerClient open(2);
        QVERIFY(open.enter("a"));
        QVERIFY(open.enter("a"));
        QVERIFY(!open.enter("a"));
        QVERIFY(open.enter("b"));
        open.leave("a");
        QVERIFY(open.enter("a"));
        QVERIFY(!open.enter("a"));
        // A full client's idle connections make room, the longest idle first;
        // one back at work does not.
        QStringList woken;
        const quint64 first = open.idle("a", [&] { woken << "first"; });
        const quint64 second = open.idle("a", [&] { woken << "second"; });
        open.idle("b", [&] { woken << "b"; });
        open.busy("a", first);
        QVERIFY(open.enter("a"));
        QCOMPARE(woken, QStringList{"second"});
        QVERIFY(!open.enter("a"));
        open.busy("a", second);
        QCOMPARE(woken, QStringList{"second"});
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
        const QByteArray password = hashPassword("richtig-lang");
        QByteArray kept, idle, closed;
        {
            SessionStore store(path);
            store.passwordIs(password, 0);
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
        restarted.passwordIs(password, 21 * day);
        QVERIFY(restarted.use(kept, 49 * day));
        QVERIFY(!restarted.use(idle, 31 * day));
        QVERIFY(!restarted.use(closed, 21 * day));
        QVERIFY(!restarted.use("made-up", 21 * day));
    }
    // A new password, or none, ends every session at once: in the running
    // panel, and in what it writes back at its end.
    void newPasswordEndsSessions_data() {
        QTest::addColumn<bool>("passwordGone");
        QTest::newRow("new password") << false;
        QTest::newRow("password file gone") << true;
    }
    void newPasswordEndsSessions() {
        QFETCH(bool, passwordGone);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("web-password.sessions"));
        const QByteArray old = hashPassword("altes-passwort");
        const QByteArray next = passwordGone ? QByteArray() : hashPassword("neues-passwort");
        SessionStore store(path);
        store.passwordIs(old, 0);
        const QByteArray cookie = store.open(0);
        QVERIFY(store.use(cookie, 1));
        store.passwordIs(next, 2);
        QVERIFY(!store.use(cookie, 3));
        store.passwordIs(old, 4); // even the old one back revives nothing
        QVERIFY(!store.use(cookie, 5));
        QCOMPARE(store.open(6).isEmpty(), false);
        // Written back by an end that came before the change was noticed:
        // the next start does not take them for the new password.
        SessionStore written(path);
        written.passwordIs(old, 7);
        const QByteArray stale = written.open(7);
        written.save(8, true);
        SessionStore restarted(path);
        restarted.passwordIs(next, 9);
        QVERIFY(!restarted.use(stale, 10));
        QCOMPARE(restarted.open(11).isEmpty(), passwordGone);
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "test_web.moc"
