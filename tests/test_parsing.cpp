// Text from users and from the system: the command line's arguments (what
// each asks for, and bad input turned away with a German line that names
// it), the line settings and the order of the COM ports.

#include "command_line.h"
#include "line_settings.h"
#include "mqtt_topics.h"
#include "parser_texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace relais;
using Action = Invocation::Action;
using P = LineSettings::Parity;
using S = LineSettings::StopBits;

Q_DECLARE_METATYPE(LineSettings)

class TestParsing : public QObject {
    Q_OBJECT

    QTemporaryDir config_; // the user's settings folder: empty, no web password

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config_.path().toUtf8()); }

    void parse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("port"); // "COM n" or the device
        QTest::addColumn<int>("mask");
        QTest::addColumn<QString>("error"); // a part of the message

        const auto ok = [](const char* name, QStringList args, Action action, QString port = {},
                           int mask = 0) {
            QTest::newRow(name) << args << int(action) << port << mask << QString();
        };
        const auto bad = [](const char* name, QStringList args, const char* error) {
            QTest::newRow(name) << args << int(Action::Error) << QString() << 0
                                << QString::fromUtf8(error);
        };
        ok("no arguments", {}, Action::Window);
        ok("ports", {"--ports"}, Action::ListPorts);
        ok("COM 1, relays", {"--port", "COM 1", "--relays", "3,16"}, Action::Send, "COM 1", 32772);
        ok("COM3, mask", {"--port", "com3", "--mask", "65535"}, Action::Send, "COM 3", 65535);
        ok("bare number, all off", {"--port", "8", "--relays", "-"}, Action::Send, "COM 8", 0);
        ok("device, hold", {"--port", "/dev/pts/7", "--relays", "1, 2", "--hold"}, Action::Hold,
           "/dev/pts/7", 3);
        ok("to the window", {"--mask", "4"}, Action::SendToWindow, "", 4);
        bad("relay 17", {"--port", "1", "--relays", "17"}, "»17«");
        bad("relay 0", {"--relays", "0,3"}, "»0,3«");
        bad("empty relay", {"--relays", "1,,2"}, "»1,,2«");
        bad("mask too big", {"--mask", "65536"}, "»65536«");
        bad("mask negative", {"--mask", "-1"}, "»-1«");
        bad("COM 9", {"--port", "COM 9", "--mask", "1"}, "»COM 9«");
        bad("not a path", {"--port", "ttyS0", "--mask", "1"}, "»ttyS0«");
        bad("unknown option", {"--relay", "3"}, "relay");
        bad("stray argument", {"now"}, "»now«");
        bad("relays and mask", {"--relays", "1", "--mask", "1"}, "--mask");
        bad("port alone", {"--port", "1"}, "--relays");
        bad("hold without port", {"--hold", "--mask", "1"}, "--port");
        bad("ports and more", {"--ports", "--port", "1"}, "--ports");
        bad("port twice", {"--port", "1", "--port", "2", "--mask", "1"}, "--port");
        ok("forget a card", {"--mqtt", "mqtt://h", "--mqtt-name", "x", "--mqtt-forget"},
           Action::ForgetMqtt);
        bad("forget, no broker", {"--mqtt-forget"}, "--mqtt-forget");
        bad("forget while holding",
            {"--port", "1", "--hold", "--mqtt", "mqtt://h", "--mqtt-forget"}, "--mqtt-forget");
        // Prefixes Home Assistant would never read, refused rather than ignored.
        for (const char* prefix : {"", "ha/#", "h+a", "/ha", "homeassistant/"}) {
            bad(qPrintable(QStringLiteral("prefix »%1«").arg(QLatin1String(prefix))),
                {"--mqtt", "mqtt://h", "--mqtt-discovery-prefix", prefix}, "Präfix");
        }
        ok("prefix with a level", {"--mqtt", "mqtt://h", "--mqtt-discovery-prefix", "ha/haus"},
           Action::Window);
        // The web panel: on loopback without a password, beyond only with one.
        ok("web on loopback", {"--web", "127.0.0.1:8080"}, Action::Window);
        ok("hold with web, all off", {"--port", "1", "--hold", "--web", "[::1]:8080"}, Action::Hold,
           "COM 1", 0);
        bad("web beyond loopback, no password", {"--web", "8443"}, "--set-web-password");
        bad("web on the house network, no password", {"--web", "192.168.1.5:8443"},
            "--set-web-password");
        bad("web address a name", {"--web", "host:80"}, "»host:80«");
        bad("web port 0", {"--web", "0"}, "»0«");
        bad("web with a one-shot send", {"--port", "1", "--mask", "1", "--web", "127.0.0.1:1"},
            "--web");
        bad("web options without web", {"--web-plain-http"}, "--web");
        bad("certificate without key", {"--web", "127.0.0.1:1", "--web-cert", "c.pem"},
            "--web-key");
        ok("set password", {"--set-web-password"}, Action::WebStore);
        ok("set password into a file", {"--set-web-password", "/tmp/pw"}, Action::WebStore);
        bad("set password into two files", {"--set-web-password", "a", "b"}, "»a«");
        bad("a file without set password", {"--web", "127.0.0.1:1", "pw"}, "»pw«");
        ok("new token", {"--new-web-token", "ci", "--web-password-file", "/tmp/pw"},
           Action::WebStore);
        ok("fingerprint of a certificate",
           {"--web-fingerprint", "--web-cert", "c", "--web-key", "k"}, Action::WebStore);
        bad("token command with more", {"--new-web-token", "ci", "--port", "1"}, "--new-web-token");
        bad("two token commands", {"--list-web-tokens", "--revoke-web-token", "ci"}, "allein");
    }
    void parse() {
        QFETCH(QStringList, args);
        QFETCH(int, action);
        QFETCH(QString, port);
        QFETCH(int, mask);
        QFETCH(QString, error);
        const Invocation result = parseCommandLine(QStringList{"relaiskarte"} + args);
        QCOMPARE(int(result.action), action);
        QCOMPARE(int(result.mask), mask);
        const QString parsedPort = result.port.number
                                       ? QStringLiteral("COM %1").arg(result.port.number)
                                       : result.port.device;
        QCOMPARE(parsedPort, port);
        QVERIFY2(result.text.contains(error), qPrintable(result.text));
        QVERIFY(!result.text.contains(QLatin1Char('\n')));
    }

    // German whether or not Qt's translation is installed (none is loaded
    // here), and naming every option and exit code.
    void helpIsGermanAndComplete() {
        ParserTexts german;
        QCoreApplication::installTranslator(&german);
        const Invocation help = parseCommandLine({"/usr/bin/relaiskarte", "--help"});
        QCoreApplication::removeTranslator(&german);
        QCOMPARE(help.action, Action::Help);
        QVERIFY2(help.text.startsWith(QStringLiteral("Aufruf: relaiskarte [Optionen] [DATEI]\n")),
                 qPrintable(help.text));
        for (const char* word : {"Optionen:", "Zeigt Hilfe zu den", "--ports", "--port", "--relays",
                                 "--mask", "--hold", "--version", "7 Verbindung unterbrochen",
                                 "--web ", "--set-web-password", "--new-web-token", "Argumente:"}) {
            QVERIFY2(help.text.contains(QString::fromUtf8(word)), word);
        }
        for (const char* english : {"Usage", "Options:", "Displays"}) {
            QVERIFY2(!help.text.contains(QLatin1String(english)), english);
        }
    }

    // Every example in the help (and so in the man page made from it) and in
    // the README parses as printed, quotes and all.
    void examplesRunAsPrinted_data() {
        QTest::addColumn<QString>("line");
        // A command starts a line or a `code span`, and ends at the span's
        // end, a comment or a gap of two blanks before its description.
        static const QRegularExpression command(
            QStringLiteral("(?:^[ \\t]*|`)(relaiskarte --[^`#\\n]*?)(?:  |`|#|$)"),
            QRegularExpression::MultilineOption);
        int row = 0;
        const auto examplesIn = [&](const QString& text) {
            for (auto it = command.globalMatch(text); it.hasNext();) {
                const QString line = it.next().captured(1).trimmed();
                QTest::addRow("%d: %s", ++row, qPrintable(line)) << line;
            }
        };
        examplesIn(parseCommandLine({"relaiskarte", "--help"}).text);
        QFile readme(QStringLiteral(README_PATH));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        examplesIn(QString::fromUtf8(readme.readAll()));
        QVERIFY(row >= 10);
    }
    void examplesRunAsPrinted() {
        QFETCH(QString, line);
        // The service's settings file, as the README has the user make it
        // from the example the package ships.
        QTemporaryDir etc;
        const QString settings = etc.filePath(QStringLiteral("relaiskarte.conf"));
        QVERIFY(QFile::copy(QStringLiteral(SETTINGS_EXAMPLE_PATH), settings));
        // ... and after setting the web panel's password, as the README says first.
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
        const QString passwordFile = web::defaultPasswordFile();
        QVERIFY(QDir().mkpath(QFileInfo(passwordFile).path()));
        QFile password(passwordFile);
        const bool madeHere = !password.exists();
        QVERIFY(password.open(QIODevice::Append));
        password.close();
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
            if (madeHere) {
                QFile::remove(passwordFile); // (where the settings folder is not XDG's)
            }
        });
        QStringList args = QProcess::splitCommand(line);
        args.replaceInStrings(QStringLiteral("/etc/relaiskarte.conf"), settings);
        const Invocation result = parseCommandLine(args);
        QVERIFY2(result.action != Action::Error, qPrintable(result.text));
    }

    // The broker: from the command line or a settings file (the command line
    // wins); without either, no broker at all.
    void brokerOptions() {
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8()); // no user settings
        const QString file = home.filePath(QStringLiteral("service.conf"));
        {
            QSettings ini(file, QSettings::IniFormat);
            ini.setValue(QStringLiteral("link/port"), QStringLiteral("COM 3"));
            ini.setValue(QStringLiteral("mqtt/url"), QStringLiteral("mqtt://broker:1884"));
            ini.setValue(QStringLiteral("mqtt/name"), QStringLiteral("Garage Tor"));
            ini.setValue(QStringLiteral("mqtt/discovery"), false);
        }
        const auto parse = [](QStringList args) {
            return parseCommandLine(QStringList{"relaiskarte"} + args);
        };
        Invocation service = parse({"--config", file, "--hold"});
        QCOMPARE(service.action, Action::Hold);
        QCOMPARE(service.port.number, 3);
        QVERIFY(service.mqtt);
        QCOMPARE(service.mqttOptions.host, QStringLiteral("broker"));
        QCOMPARE(service.mqttOptions.port, 1884);
        QVERIFY(!service.mqttOptions.tls);
        QCOMPARE(service.mqttOptions.name, QStringLiteral("garage-tor"));
        QCOMPARE(service.mqttOptions.discoveryPrefix, QString()); // discovery off
        QCOMPARE(service.mask, quint16(0)); // with a broker, all off to begin with

        Invocation overridden = parse(
            {"--config", file, "--hold", "--port", "2", "--mqtt", "mqtts://h", "--mqtt-name", "x"});
        QCOMPARE(overridden.port.number, 2);
        QCOMPARE(overridden.mqttOptions.host, QStringLiteral("h"));
        QCOMPARE(overridden.mqttOptions.port, 8883);
        QVERIFY(overridden.mqttOptions.tls);
        QCOMPARE(overridden.mqttOptions.name, QStringLiteral("x"));

        Invocation window = parse({"--mqtt", "mqtt://h"});
        QCOMPARE(window.action, Action::Window);
        QVERIFY(!window.mqttOptions.name.isEmpty());
        QCOMPARE(window.mqttOptions.discoveryPrefix, QStringLiteral("homeassistant"));
        QVERIFY(!parse({}).mqtt);

        for (const QStringList& bad :
             {QStringList{"--config", home.filePath("none.conf")},
              QStringList{"--port", "1", "--mask", "1", "--mqtt", "mqtt://h"},
              QStringList{"--mqtt", "ftp://h"}, QStringList{"--mqtt", "mqtt://"},
              QStringList{"--mqtt", "mqtt://user:pw@h"}, QStringList{"--mqtt-name", "x"}}) {
            const Invocation result = parse(bad);
            QVERIFY2(result.action == Action::Error, qPrintable(bad.join(' ')));
        }
    }

    void mqttCommands_data() {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("value"); // relay, mask or on
        using K = mqtt::Command::Kind;
        const auto row = [](const char* topic, const char* payload, K kind, int value) {
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(topic, payload)))
                << QString::fromLatin1(topic) << QByteArray(payload) << int(kind) << value;
        };
        row("relay/1/set", "ON", K::SetRelay, 1);
        row("relay/16/set", " off ", K::SetRelay, 16);
        row("relay/7/set", "toggle", K::ToggleRelay, 7);
        row("relays/set", "65535", K::SetRelays, 65535);
        row("link/set", "COM 2", K::Start, 1); // 1: a port named
        row("link/set", "start", K::Start, 0); // the port known
        row("link/set", "stop", K::Stop, 0);
        row("relay/0/set", "ON", K::Invalid, 0);
        row("relay/17/set", "ON", K::Invalid, 0);
        row("relay/01/set", "ON", K::Invalid, 0);
        row("relays/set", "65536", K::Invalid, 0);
        row("relays/set", "0x10", K::Invalid, 0);
        row("link/set", "", K::Invalid, 0);
        row("relay/3", "ON", K::Invalid, 0); // a state, not a command
    }
    void mqttCommands() {
        QFETCH(QString, topic);
        QFETCH(QByteArray, payload);
        QFETCH(int, kind);
        QFETCH(int, value);
        const mqtt::Command c = mqtt::parseCommand(
            QStringLiteral("k"), QStringLiteral("relaiskarte/k/") + topic, payload);
        QCOMPARE(int(c.kind), kind);
        QCOMPARE(c.error.isEmpty(), kind != int(mqtt::Command::Kind::Invalid));
        if (c.kind == mqtt::Command::Kind::SetRelays) {
            QCOMPARE(int(c.mask), value);
        } else if (c.kind == mqtt::Command::Kind::SetRelay ||
                   c.kind == mqtt::Command::Kind::ToggleRelay) {
            QCOMPARE(c.relay, value);
        } else if (c.kind == mqtt::Command::Kind::Start) {
            QCOMPARE(!c.port.isEmpty(), bool(value));
        }
    }

    // Every option of the broker or the panel, alone, asks for the option
    // that switches it on; every option is in the help, and given twice,
    // a valued one is refused.
    void everyOptionKeepsTheRules_data() {
        QTest::addColumn<QString>("name");
        for (const OptionSpec& option : optionTable()) {
            QTest::addRow("%s", qPrintable(option.name)) << option.name;
        }
    }
    void everyOptionKeepsTheRules() {
        QFETCH(QString, name);
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8()); // no user settings
        const auto restore =
            qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", config_.path().toUtf8()); });
        const OptionSpec& option = *std::find_if(optionTable().begin(), optionTable().end(),
                                                 [&](const auto& o) { return o.name == name; });
        QStringList alone{"relaiskarte", "--" + name};
        if (!option.valueName.isEmpty()) {
            alone << "x";
        }
        QVERIFY(parseCommandLine({"relaiskarte", "--help"}).text.contains("--" + name));
        // (A certificate comes with its key.)
        const QStringList partner = name == "web-cert"  ? QStringList{"--web-key", "y"}
                                    : name == "web-key" ? QStringList{"--web-cert", "y"}
                                                        : QStringList{};
        const Invocation result = parseCommandLine(alone + partner);
        const QString switchName = groupSwitch(option.group);
        if (!switchName.isEmpty() && name != switchName && name != "mqtt-forget") {
            QCOMPARE(result.action, Action::Error);
            QVERIFY2(result.text.endsWith(QStringLiteral("brauchen --%1.").arg(switchName)),
                     qPrintable(result.text));
        }
        if (option.onceOnly) {
            const Invocation twice = parseCommandLine(alone + alone.mid(1));
            QCOMPARE(twice.text, QStringLiteral("--%1 darf nur einmal stehen.").arg(name));
        }
    }

    // Home Assistant gets the relays' names, and a pulse button for each
    // relay with a pulse length; the others' buttons are cleared.
    void discoveryNamesAndButtons() {
        mqtt::Identity id{QStringLiteral("garage"),
                          QStringLiteral("homeassistant"),
                          QStringLiteral("1.0"),
                          {},
                          {}};
        id.names[2] = QStringLiteral("Pumpe");
        id.pulseMs[2] = 5000;
        QHash<QString, QByteArray> configs;
        for (const mqtt::Message& m : mqtt::discoveryMessages(id)) {
            configs.insert(m.topic, m.payload);
        }
        const auto config = [&](const QString& topic) {
            return QJsonDocument::fromJson(configs.value(topic)).object();
        };
        const QString prefix = QStringLiteral("homeassistant/");
        QCOMPARE(
            config(prefix + "switch/relaiskarte_garage/relay3/config").value("name").toString(),
            QStringLiteral("Pumpe"));
        QCOMPARE(
            config(prefix + "switch/relaiskarte_garage/relay4/config").value("name").toString(),
            QStringLiteral("Relais 4"));
        const QJsonObject button = config(prefix + "button/relaiskarte_garage/relay3_pulse/config");
        QCOMPARE(button.value("name").toString(), QStringLiteral("Pumpe Impuls"));
        QCOMPARE(button.value("command_topic").toString(),
                 QStringLiteral("relaiskarte/garage/relay/3/pulse"));
        QVERIFY(configs.contains(prefix + "button/relaiskarte_garage/relay4_pulse/config"));
        QCOMPARE(configs.value(prefix + "button/relaiskarte_garage/relay4_pulse/config"),
                 QByteArray());
        // No schedules: their switch and sensors are empty configs (dropped).
        QCOMPARE(configs.value(prefix + "switch/relaiskarte_garage/schedules/config"),
                 QByteArray());
        id.schedules = true;
        id.scheduledRelays = 4; // relay 3
        configs.clear();
        for (const mqtt::Message& m : mqtt::discoveryMessages(id)) {
            configs.insert(m.topic, m.payload);
        }
        const QJsonObject pause = config(prefix + "switch/relaiskarte_garage/schedules/config");
        QCOMPARE(pause.value("name").toString(), QStringLiteral("Zeitpläne"));
        QCOMPARE(pause.value("command_topic").toString(),
                 QStringLiteral("relaiskarte/garage/schedules/set"));
        const QJsonObject next = config(prefix + "sensor/relaiskarte_garage/relay3_next/config");
        QCOMPARE(next.value("name").toString(), QStringLiteral("Pumpe nächste Schaltung"));
        QCOMPARE(next.value("device_class").toString(), QStringLiteral("timestamp"));
        QCOMPARE(configs.value(prefix + "sensor/relaiskarte_garage/relay4_next/config"),
                 QByteArray());
        const mqtt::Command off = mqtt::parseCommand(
            QStringLiteral("garage"), QStringLiteral("relaiskarte/garage/schedules/set"), "OFF");
        QVERIFY(off.kind == mqtt::Command::Kind::Schedules && !off.on);
        QCOMPARE(mqtt::parseCommand(QStringLiteral("garage"),
                                    QStringLiteral("relaiskarte/garage/schedules/set"), "PAUSE")
                     .kind,
                 mqtt::Command::Kind::Invalid);
    }

    void settings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<LineSettings>("expected");
        QTest::newRow("the program's own")
            << "9600,n,8,1" << true << LineSettings{9600, P::None, 8, S::One};
        QTest::newRow("even, 7, 2")
            << "19200,e,7,2" << true << LineSettings{19200, P::Even, 7, S::Two};
        QTest::newRow("odd, 1.5") << "2400,O,5,1.5" << true
                                  << LineSettings{2400, P::Odd, 5, S::OneAndHalf};
        QTest::newRow("baud not a number") << "fast,n,8,1" << false << LineSettings{};
        QTest::newRow("baud with blank") << " 9600,n,8,1" << false << LineSettings{};
        QTest::newRow("parity unknown") << "9600,x,8,1" << false << LineSettings{};
        QTest::newRow("nine data bits") << "9600,n,9,1" << false << LineSettings{};
        QTest::newRow("stop bits 3") << "9600,n,8,3" << false << LineSettings{};
    }
    void settings() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto parsed = parseLineSettings(text);
        QCOMPARE(parsed.has_value(), valid);
        QFETCH(LineSettings, expected);
        if (valid) {
            QVERIFY(*parsed == expected);
        }
    }

    void portOrder_data() {
        QTest::addColumn<QStringList>("reported");
        QTest::addColumn<QStringList>("ordered");
        QTest::newRow("groups") << QStringList{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyAMA0",
                                               "/dev/ttyS1", "/dev/ttyS0"}
                                << QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0",
                                               "/dev/ttyACM0", "/dev/ttyAMA0"};
        QTest::newRow("numbers, not letters")
            << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyUSB1"}
            << QStringList{"/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB10"};
        QTest::newRow("others by name, then number")
            << QStringList{"/dev/rfcomm1", "/dev/ttyXRUSB0", "/dev/ttyAMA10", "/dev/ttyAMA2",
                           "/dev/ttyACM3"}
            << QStringList{"/dev/ttyACM3", "/dev/rfcomm1", "/dev/ttyAMA2", "/dev/ttyAMA10",
                           "/dev/ttyXRUSB0"};
        QTest::newRow("bare names")
            << QStringList{"ttyUSB0", "ttyS3"} << QStringList{"ttyS3", "ttyUSB0"};
    }
    void portOrder() {
        QFETCH(QStringList, reported);
        QFETCH(QStringList, ordered);
        QCOMPARE(orderSerialPorts(reported), ordered);
    }
};

QTEST_GUILESS_MAIN(TestParsing)
#include "test_parsing.moc"
