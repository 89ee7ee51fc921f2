#include "command_line.h"

#include "durations.h"
#include "mqtt_topics.h"
#include "option_table.h"
#include "relay_command.h"
#include "schedule_reader.h"

#include "relay_panel.h"
#include "serial_control.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>

namespace relais {

namespace {

const QString kDescription = QStringLiteral(
    "Schaltet die sechzehn Relais der Relaiskarte. Ohne Argumente öffnet sich das Fenster.\n"
    "\n"
    "  relaiskarte --ports                          zeigt, welches Gerät COM 1 bis COM 8 ist\n"
    "  relaiskarte --port \"COM 1\" --relays 3,16     sendet das Muster einmal\n"
    "  relaiskarte --port /dev/ttyUSB0 --mask 4 --hold\n"
    "                                               sendet alle 100 ms bis SIGINT/SIGTERM\n"
    "  relaiskarte --relays 1,2                     setzt das Muster im laufenden Fenster\n"
    "  relaiskarte --port \"COM 1\" --hold --mqtt mqtt://localhost\n"
    "                                               schaltet die Relais über einen MQTT-Broker\n"
    "  relaiskarte --set-web-password               setzt das Passwort des Web-Panels\n"
    "  relaiskarte --web 8443                       das Fenster mit Web-Panel (HTTPS)\n"
    "\n"
    "Rückgabewerte: 0 erledigt, 1 das Fenster lehnt ab, 2 falsche Eingabe oder kein Fenster,\n"
    "3 Schnittstelle nicht vorhanden, 4 bereits verwendet, 5 keine Berechtigung,\n"
    "6 kann nicht geöffnet werden, 7 Verbindung unterbrochen.");

Invocation failure(const QString& text) {
    Invocation result;
    result.action = Invocation::Action::Error;
    result.text = text;
    return result;
}

} // namespace

int exitCodeFor(int errorNumber) {
    switch (errorNumber) {
    case kErrPortNotFound:
        return kExitPortNotFound;
    case kErrPortInUse:
        return kExitPortInUse;
    case kErrPermissionDenied:
        return kExitPermissionDenied;
    case kErrLineLost:
        return kExitLineLost;
    default:
        return kExitOpenFailed;
    }
}

std::optional<quint16> parseRelayList(const QString& text, const RelayRules& rules) {
    if (text.trimmed() == QLatin1String("-")) {
        return quint16(0);
    }
    int mask = 0;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const int relay = rules.relayNamed(part.trimmed());
        if (relay == 0) {
            return std::nullopt;
        }
        mask |= relayWeight(relay);
    }
    return quint16(mask);
}

namespace {

// The parsed arguments over the settings file: an option given wins over
// the file, the file over the preset.
class Arguments {
public:
    explicit Arguments(QCommandLineParser& parser) : parser_(parser) {
        parser_.setApplicationDescription(kDescription);
        help_ = parser_.addHelpOption();
        version_ = parser_.addVersionOption();
        for (const OptionSpec& option : optionTable()) {
            parser_.addOption(QCommandLineOption(option.name, option.help, option.valueName));
        }
        parser_.addPositionalArgument(QStringLiteral("DATEI"),
                                      QStringLiteral("Nur mit --set-web-password: wohin das "
                                                     "Passwort kommt."),
                                      QStringLiteral("[DATEI]"));
    }
    const QCommandLineParser& parser() const { return parser_; }
    bool helpAsked() const { return parser_.isSet(help_); }
    bool versionAsked() const { return parser_.isSet(version_); }
    bool isSet(const QString& name) const { return parser_.isSet(name); }
    QString given(const QString& name) const { return parser_.value(name); }
    bool anyOf(OptionGroup group) const {
        return std::any_of(optionTable().begin(), optionTable().end(), [&](const auto& option) {
            return option.group == group && isSet(option.name);
        });
    }
    // Where nothing of the link is given, the window opens.
    bool forWindow() const { return !anyOf(OptionGroup::Link); }
    QString pick(const QString& name) const {
        return isSet(name) ? given(name) : stored_.value(name);
    }
    bool switchedOn(const QString& name) const {
        return isSet(name) || stored_.value(name) == QLatin1String("true");
    }
    // The one named, or the user's for the window.
    std::optional<QString> loadSettings() {
        stored_ = presetSettings();
        if (isSet(QStringLiteral("config"))) {
            const QString path = given(QStringLiteral("config"));
            const auto read = readSettings(path);
            if (!read) {
                return QStringLiteral("Einstellungsdatei »%1« nicht lesbar.").arg(path);
            }
            stored_ = *read;
            path_ = path;
        } else if (!isSet(QStringLiteral("port")) && !isSet(QStringLiteral("hold")) &&
                   QFileInfo::exists(userSettingsPath())) {
            // (The window's, and its relays' names for what is sent to it.)
            stored_ = readSettings(userSettingsPath()).value_or(stored_);
            path_ = userSettingsPath();
        }
        return std::nullopt;
    }
    // The relays' rules from the same file; none without one.
    std::optional<QString> loadRules(RelayRules& rules) const {
        if (path_.isEmpty()) {
            return std::nullopt;
        }
        auto read = readRelayRules(path_);
        if (auto* fault = std::get_if<QString>(&read)) {
            return *fault;
        }
        rules = std::get<RelayRules>(read);
        return std::nullopt;
    }
    std::optional<QString> loadSchedules(const RelayRules& rules, Schedules& schedules) const {
        if (path_.isEmpty()) {
            return std::nullopt;
        }
        auto read = readSchedules(path_, rules);
        if (auto* fault = std::get_if<QString>(&read)) {
            return *fault;
        }
        schedules = std::get<Schedules>(read);
        return std::nullopt;
    }

private:
    QCommandLineParser& parser_;
    QCommandLineOption help_{QStringLiteral("help")};
    QCommandLineOption version_{QStringLiteral("version")};
    StoredSettings stored_;
    QString path_; // the settings file read, if any
};

using Fault = std::optional<QString>;

std::optional<Invocation> helpOrVersion(const Arguments& args, const QString& helpText) {
    Invocation result;
    if (args.helpAsked()) {
        result.action = Invocation::Action::Help;
        // The usage line names the program, not the path it was started by
        // (the parser takes that from the application, not from `arguments`).
        result.text = helpText;
        const QString startedAs = QCoreApplication::arguments().value(0);
        const qsizetype at = result.text.indexOf(startedAs);
        if (at >= 0 && !startedAs.isEmpty()) {
            result.text.replace(at, startedAs.size(), QStringLiteral("relaiskarte"));
        }
        return result;
    }
    if (args.versionAsked()) {
        result.action = Invocation::Action::Version;
        result.text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                      QCoreApplication::applicationVersion();
        return result;
    }
    return std::nullopt;
}

Fault checkCounts(Arguments& args) {
    const QStringList positional = args.parser().positionalArguments();
    if (!positional.isEmpty() &&
        !(args.isSet(QStringLiteral("set-web-password")) && positional.size() == 1)) {
        return QStringLiteral("Unerwartetes Argument »%1«.").arg(positional.first());
    }
    for (const OptionSpec& option : optionTable()) {
        if (option.onceOnly && args.parser().values(option.name).size() > 1) {
            return QStringLiteral("--%1 darf nur einmal stehen.").arg(option.name);
        }
    }
    return std::nullopt;
}

// "Die MQTT-Optionen brauchen --mqtt.": an option of a group whose switch
// is off.
Fault needsSwitch(const Arguments& args, OptionGroup group, const QString& text) {
    const QString switchName = groupSwitch(group);
    for (const OptionSpec& option : optionTable()) {
        if (option.group == group && option.name != switchName && args.isSet(option.name)) {
            return text;
        }
    }
    return std::nullopt;
}

// Where the login store lies, for the panel and for its commands.
Fault readWebPlaces(const Arguments& args, Invocation& result) {
    const QString stored = args.pick(QStringLiteral("web-password-file"));
    result.webOptions.passwordFile = args.parser().positionalArguments().value(
        0, stored.isEmpty() ? web::defaultPasswordFile() : stored);
    result.webOptions.certFile = args.pick(QStringLiteral("web-cert"));
    result.webOptions.keyFile = args.pick(QStringLiteral("web-key"));
    if (result.webOptions.certFile.isEmpty() != result.webOptions.keyFile.isEmpty()) {
        return QStringLiteral("--web-cert und --web-key gehören zusammen.");
    }
    return std::nullopt;
}

// The login store's commands: one alone, with where the store is.
std::optional<Invocation> storeCommand(const Arguments& args, const Invocation& places) {
    using Kind = web::StoreCommand::Kind;
    static const QHash<QString, Kind> kinds{
        {QStringLiteral("set-web-password"), Kind::SetPassword},
        {QStringLiteral("new-web-token"), Kind::NewToken},
        {QStringLiteral("list-web-tokens"), Kind::ListTokens},
        {QStringLiteral("revoke-web-token"), Kind::RevokeToken},
        {QStringLiteral("web-fingerprint"), Kind::Fingerprint},
    };
    for (const OptionSpec& option : optionTable()) {
        if (option.group != OptionGroup::Store || !args.isSet(option.name)) {
            continue;
        }
        const QStringList allowed = {option.name, QStringLiteral("web-password-file"),
                                     QStringLiteral("config"), QStringLiteral("web-cert"),
                                     QStringLiteral("web-key")};
        for (const QString& name : args.parser().optionNames()) {
            if (!allowed.contains(name)) {
                return failure(QStringLiteral("--%1 steht allein, nur mit --web-password-file "
                                              "oder --config.")
                                   .arg(option.name));
            }
        }
        Invocation result = places;
        result.action = Invocation::Action::WebStore;
        result.webCommand.kind = kinds.value(option.name);
        result.webCommand.options = result.webOptions;
        result.webCommand.tokenName = args.given(option.name);
        return result;
    }
    return std::nullopt;
}

Fault readWeb(const Arguments& args, Invocation& result) {
    const QString listen = args.pick(QStringLiteral("web"));
    if (listen.isEmpty()) {
        return needsSwitch(args, OptionGroup::Web,
                           QStringLiteral("Die Web-Optionen brauchen --web."));
    }
    if (!args.forWindow() && !args.isSet(QStringLiteral("hold"))) {
        return QStringLiteral("--web gilt im Fenster oder mit --hold.");
    }
    if (const auto error = web::parseListenAddress(listen, result.webOptions)) {
        return error;
    }
    result.web = true;
    result.webOptions.plainHttp = args.switchedOn(QStringLiteral("web-plain-http"));
    if (!web::isLoopback(result.webOptions.address) &&
        !QFileInfo::exists(result.webOptions.passwordFile)) {
        return QStringLiteral("Ohne Passwort lauscht das Web-Panel nur auf 127.0.0.1 oder ::1: "
                              "erst relaiskarte --set-web-password, oder --web 127.0.0.1:%1.")
            .arg(result.webOptions.port);
    }
    return std::nullopt;
}

Fault readMqtt(const Arguments& args, const QString& portText, Invocation& result) {
    const bool forget = args.isSet(QStringLiteral("mqtt-forget"));
    const QString url = args.pick(QStringLiteral("mqtt"));
    if (forget && (url.isEmpty() || args.anyOf(OptionGroup::Link))) {
        return QStringLiteral("--mqtt-forget braucht --mqtt und steht ohne --hold, --relays und "
                              "--mask.");
    }
    if (url.isEmpty()) {
        return needsSwitch(args, OptionGroup::Mqtt,
                           QStringLiteral("Die MQTT-Optionen brauchen --mqtt."));
    }
    if (!args.forWindow() && !args.isSet(QStringLiteral("hold")) && !forget) {
        return QStringLiteral("--mqtt gilt im Fenster oder mit --hold.");
    }
    result.mqtt = true;
    if (const auto error = mqtt::parseBrokerUrl(url, result.mqttOptions)) {
        return error;
    }
    const QString name = args.pick(QStringLiteral("mqtt-name"));
    result.mqttOptions.name =
        mqtt::topicSafe(name.isEmpty() ? mqtt::defaultDeviceName(portText) : name);
    result.mqttOptions.caFile = args.pick(QStringLiteral("mqtt-cafile"));
    result.mqttCredentialsFile = args.pick(QStringLiteral("mqtt-credentials"));
    // Forgetting clears discovery under the prefix even where it is off now.
    const bool discovery = forget || !args.switchedOn(QStringLiteral("no-mqtt-discovery"));
    const QString prefix = args.pick(QStringLiteral("mqtt-discovery-prefix"));
    if (const auto error = mqtt::checkDiscoveryPrefix(prefix); error && discovery) {
        return error;
    }
    result.mqttOptions.discoveryPrefix = discovery ? prefix : QString();
    if (forget) {
        result.action = Invocation::Action::ForgetMqtt;
    }
    return std::nullopt;
}

// --pulse RELAY[:DURATION], alone with --port or to the window.
Fault readPulse(const Arguments& args, Invocation& result) {
    const QString given = args.given(QStringLiteral("pulse"));
    const qsizetype colon = given.indexOf(QLatin1Char(':'));
    result.pulseRelay = result.rules.relayNamed(given.left(colon));
    const auto ms = colon < 0 ? std::optional<qint64>() : parseDuration(given.mid(colon + 1));
    if (result.pulseRelay == 0 || (colon >= 0 && !ms)) {
        return QStringLiteral("Ungültiger Impuls »%1«: RELAIS oder RELAIS:DAUER, etwa 3:500ms.")
            .arg(given);
    }
    if (args.isSet(QStringLiteral("hold"))) {
        return QStringLiteral("--pulse steht ohne --hold.");
    }
    result.pulseMs = ms.value_or(0);
    result.windowRequest = {WindowRequest::Kind::Pulse, 0, result.pulseRelay, result.pulseMs};
    return std::nullopt;
}

// --schedules pause|run: to the running window, alone.
Invocation readSchedulesRequest(const Arguments& args, Invocation result) {
    const QString given = args.given(QStringLiteral("schedules"));
    if (args.parser().optionNames().size() > 1 ||
        (given != QLatin1String("pause") && given != QLatin1String("run"))) {
        return failure(QStringLiteral("--schedules steht allein, mit pause oder run."));
    }
    result.action = Invocation::Action::SendToWindow;
    result.windowRequest = {WindowRequest::Kind::PauseSchedules,
                            quint16(given == QLatin1String("pause") ? 1 : 0), 0, 0};
    return result;
}

// --schedule-preview [--from DATE] [--days N]: alone, with --config at most.
Invocation readPreview(const Arguments& args, Invocation result) {
    const QStringList allowed{QStringLiteral("schedule-preview"), QStringLiteral("from"),
                              QStringLiteral("days"), QStringLiteral("config")};
    for (const QString& name : args.parser().optionNames()) {
        if (!allowed.contains(name)) {
            return failure(
                QStringLiteral("--schedule-preview steht allein, nur mit --from, --days oder "
                               "--config."));
        }
    }
    result.previewFrom = args.isSet(QStringLiteral("from"))
                             ? QDate::fromString(args.given(QStringLiteral("from")), Qt::ISODate)
                             : QDate::currentDate();
    bool ok = true;
    if (args.isSet(QStringLiteral("days"))) {
        result.previewDays = args.given(QStringLiteral("days")).toInt(&ok);
    }
    if (!result.previewFrom.isValid() || !ok || result.previewDays < 1 ||
        result.previewDays > 366) {
        return failure(QStringLiteral("--from ist ein Datum wie 2026-03-29, --days eine Zahl von "
                                      "1 bis 366."));
    }
    result.action = Invocation::Action::SchedulePreview;
    return result;
}

Fault readPattern(const Arguments& args, Invocation& result) {
    const QString relays = QStringLiteral("relays");
    const QString mask = QStringLiteral("mask");
    if (int(args.isSet(relays)) + int(args.isSet(mask)) + int(args.isSet(QStringLiteral("pulse"))) >
        1) {
        return QStringLiteral("--relays, --mask und --pulse schließen einander aus.");
    }
    result.patternGiven = args.isSet(relays) || args.isSet(mask);
    if (args.isSet(relays)) {
        const auto parsed = parseRelayList(args.given(relays), result.rules);
        if (!parsed) {
            return QStringLiteral("Ungültige Relaisliste »%1«: erlaubt sind 1 bis 16, durch "
                                  "Kommas getrennt, oder -.")
                .arg(args.given(relays));
        }
        result.mask = *parsed;
    } else if (args.isSet(mask)) {
        bool ok = false;
        const uint value = args.given(mask).toUInt(&ok);
        if (!ok || value > 0xFFFFu) {
            return QStringLiteral("Ungültige Maske »%1«: erlaubt sind 0 bis 65535.")
                .arg(args.given(mask));
        }
        result.mask = quint16(value);
    } else if (args.isSet(QStringLiteral("pulse"))) {
        return readPulse(args, result);
    } else if (!args.forWindow() && !(args.isSet(QStringLiteral("hold")) &&
                                      (result.mqtt || result.web || result.rules.powerOnLast))) {
        // (With a broker or the panel, --hold may start with all relays off;
        // with power_on = last, with the pattern kept.)
        return QStringLiteral("Es fehlt --relays oder --mask.");
    }
    return std::nullopt;
}

Invocation choosePortAndAction(const Arguments& args, const QString& portText, Invocation result) {
    const bool hold = args.isSet(QStringLiteral("hold"));
    if (portText.isEmpty()) {
        if (hold) {
            return failure(QStringLiteral("--hold braucht --port."));
        }
        result.action =
            args.forWindow() ? Invocation::Action::Window : Invocation::Action::SendToWindow;
        if (result.windowRequest.kind == WindowRequest::Kind::Relays) {
            result.windowRequest.mask = result.mask;
        }
        return result;
    }
    const RelayCommand::Made start = RelayCommand::start(portText, false);
    if (const auto* refusal = std::get_if<Refusal>(&start)) {
        return failure(refusal->text);
    }
    result.port = *std::get<RelayCommand>(start).port();
    result.action = hold                     ? Invocation::Action::Hold
                    : result.pulseRelay != 0 ? Invocation::Action::PulseOnce
                                             : Invocation::Action::Send;
    return result;
}

} // namespace

Invocation parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    Arguments args(parser);
    if (!parser.parse(arguments)) {
        return failure(parser.errorText());
    }
    if (auto answer = helpOrVersion(args, parser.helpText())) {
        return *answer;
    }
    if (const Fault fault = checkCounts(args)) {
        return failure(*fault);
    }
    Invocation result;
    if (args.isSet(QStringLiteral("ports"))) {
        if (parser.optionNames().size() > 1) {
            return failure(QStringLiteral("--ports steht allein."));
        }
        result.action = Invocation::Action::ListPorts;
        return result;
    }
    if (const Fault fault = args.loadSettings()) {
        return failure(*fault);
    }
    if (const Fault fault = args.loadRules(result.rules)) {
        return failure(*fault);
    }
    if (const Fault fault = args.loadSchedules(result.rules, result.schedules)) {
        return failure(*fault);
    }
    if (args.isSet(QStringLiteral("schedule-preview"))) {
        return readPreview(args, result);
    }
    if (args.isSet(QStringLiteral("schedules"))) {
        return readSchedulesRequest(args, result);
    }
    if (args.isSet(QStringLiteral("from")) || args.isSet(QStringLiteral("days"))) {
        return failure(QStringLiteral("--from und --days gelten mit --schedule-preview."));
    }
    result.logChanges = args.isSet(QStringLiteral("log-changes"));
    if (const Fault fault = readWebPlaces(args, result)) {
        return failure(*fault);
    }
    if (auto store = storeCommand(args, result)) {
        return *store;
    }
    // A port from the settings file counts for the service only.
    const QString portText = args.isSet(QStringLiteral("hold"))
                                 ? args.pick(QStringLiteral("port"))
                                 : args.given(QStringLiteral("port"));
    if (const Fault fault = readWeb(args, result)) {
        return failure(*fault);
    }
    if (const Fault fault = readMqtt(args, portText, result)) {
        return failure(*fault);
    }
    if (result.action == Invocation::Action::ForgetMqtt) {
        return result;
    }
    if (const Fault fault = readPattern(args, result)) {
        return failure(*fault);
    }
    return choosePortAndAction(args, portText, result);
}

} // namespace relais
