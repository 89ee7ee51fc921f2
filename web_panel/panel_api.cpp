#include "panel_api.h"

#include "relay_command.h"
#include "relay_panel.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

namespace relais::web {

namespace {

const QString kBadJson = QStringLiteral("Ungültiges JSON: erwartet wird ein Objekt.");

// The body as a JSON object; an empty body counts as {} where `emptyIsFine`.
std::optional<QJsonObject> objectFrom(const QByteArray& body, bool emptyIsFine = false) {
    if (body.trimmed().isEmpty() && emptyIsFine) {
        return QJsonObject();
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

// A JSON number that is a whole number (the core checks its range).
std::optional<qint64> wholeNumber(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (number != double(qint64(number)) || number < -1e15 || number > 1e15) {
        return std::nullopt;
    }
    return qint64(number);
}

// A refusal of the core as its HTTP status: a bad argument as `badStatus`
// (404 where it named a path), a conflict or a failed opening as 409.
ApiReply refused(const Refusal& refusal, int badStatus = 400) {
    return apiError(refusal.kind == Refusal::Kind::BadArgument ? badStatus : 409, refusal.text,
                    refusal.detail);
}

QByteArray compact(const QJsonDocument& document) {
    return document.toJson(QJsonDocument::Compact);
}

// UTC milliseconds as ISO 8601, or null for none.
QJsonValue instant(qint64 utcMs) {
    return utcMs == 0 ? QJsonValue()
                      : QJsonValue(QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone::utc())
                                       .toString(Qt::ISODateWithMs));
}

} // namespace

ApiReply apiError(int status, const QString& text, const QString& detail) {
    QJsonObject object{{QStringLiteral("error"), text}};
    if (!detail.isEmpty()) {
        object.insert(QStringLiteral("detail"), detail);
    }
    return ApiReply{status, compact(QJsonDocument(object)), {}};
}

PanelApi::PanelApi(RelayOperations& relays, PortTable ports)
    : relays_(relays), ports_(std::move(ports)) {}

QByteArray PanelApi::stateJson(const RelayState& state) const {
    const quint16 mask = state.pattern;
    QJsonArray relays;
    QJsonArray names;
    QJsonArray pulses;
    QJsonArray offAt;
    QJsonArray nextSwitch;
    QJsonArray heldUntil;
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        nextSwitch.append(instant(state.nextSwitch[relay - 1]));
        heldUntil.append(instant(state.heldUntil[relay - 1]));
        relays.append(bool(mask & (1u << (relay - 1))));
        const QString& name = relays_.rules().relays[relay - 1].name;
        names.append(name.isEmpty() ? QJsonValue() : QJsonValue(name));
        const qint64 pulse = relays_.rules().relays[relay - 1].pulseMs;
        pulses.append(pulse > 0 ? QJsonValue(double(pulse)) : QJsonValue());
        offAt.append(instant(state.offAt[relay - 1]));
    }
    QJsonValue port = QJsonValue::Null;
    if (state.running) {
        const QString& device = state.port;
        port = device;
        const QStringList devices = ports_();
        for (int n = 1; n <= devices.size() && n <= kPortCount; ++n) {
            if (!device.isEmpty() && devices[n - 1] == device) {
                port = comName(n);
            }
        }
    }
    return compact(QJsonDocument(QJsonObject{
        {QStringLiteral("relays"), relays},
        {QStringLiteral("mask"), int(mask)},
        {QStringLiteral("link"),
         state.running ? QStringLiteral("running") : QStringLiteral("stopped")},
        {QStringLiteral("port"), port},
        {QStringLiteral("revision"), double(state.revision)},
        {QStringLiteral("names"), names},
        {QStringLiteral("pulses"), pulses},
        {QStringLiteral("off_at"), offAt},
        {QStringLiteral("schedules_paused"),
         relays_.schedules() != nullptr ? QJsonValue(state.schedulesPaused) : QJsonValue()},
        {QStringLiteral("next_switch"), nextSwitch},
        {QStringLiteral("held_until"), heldUntil},
    }));
}

QByteArray PanelApi::portsJson(const QStringList& devices) {
    QJsonArray list;
    for (int n = 1; n <= kPortCount; ++n) {
        const QString device = devices.value(n - 1);
        list.append(QJsonObject{
            {QStringLiteral("name"), comName(n)},
            {QStringLiteral("device"), device.isEmpty() ? QJsonValue() : QJsonValue(device)},
            {QStringLiteral("present"), !device.isEmpty()},
        });
    }
    return compact(QJsonDocument(list));
}

void PanelApi::addToLog(QJsonObject entry) {
    entry.insert(QStringLiteral("time"),
                 QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    log_.append(entry);
    if (log_.size() > kLogEntries) {
        log_.removeFirst();
    }
}

void PanelApi::record(const RelayChange& change) {
    const QString source = change.source.text();
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        if (change.flipped & relayWeight(relay)) {
            const QString& name = relays_.rules().relays[relay - 1].name;
            const bool on = change.state.pattern & relayWeight(relay);
            addToLog({{QStringLiteral("relay"), relay},
                      {QStringLiteral("name"), name.isEmpty() ? QJsonValue() : QJsonValue(name)},
                      {QStringLiteral("old"), !on},
                      {QStringLiteral("new"), on},
                      {QStringLiteral("source"), source}});
        }
    }
    if (change.pausedChanged) {
        addToLog(
            {{QStringLiteral("schedules"),
              change.state.schedulesPaused ? QStringLiteral("paused") : QStringLiteral("running")},
             {QStringLiteral("source"), source}});
    }
    if (change.linkChanged) {
        addToLog({{QStringLiteral("link"),
                   change.state.running ? QStringLiteral("running") : QStringLiteral("stopped")},
                  {QStringLiteral("port"), change.state.port},
                  {QStringLiteral("source"), source}});
    }
}

void PanelApi::record(const Refusal& refusal, const ChangeSource& source) {
    addToLog(
        {{QStringLiteral("refused"), refusal.text}, {QStringLiteral("source"), source.text()}});
}

ApiReply PanelApi::state() const {
    return ApiReply{200, stateJson(relays_.state()), {}};
}

ApiReply PanelApi::run(const RelayCommand::Made& made, const QString& caller) {
    const auto refusal = carryOut(relays_, made, ports_, {ChangeSource::Kind::Web, caller});
    return refusal ? refused(*refusal) : state();
}

const std::vector<PanelApi::Route>& PanelApi::routes() {
    static const std::vector<Route> table{
        {"GET", QStringLiteral("/api/state"),
         [](PanelApi& api, int, auto&) { return api.state(); }},
        {"GET", QStringLiteral("/api/log"),
         [](PanelApi& api, int, auto&) {
             QJsonArray entries;
             for (const QJsonObject& entry : api.log_) {
                 entries.append(entry);
             }
             return ApiReply{
                 200,
                 compact(QJsonDocument(QJsonObject{{QStringLiteral("entries"), entries}})),
                 {}};
         }},
        {"GET", QStringLiteral("/api/schedule"),
         [](PanelApi& api, int, auto&) {
             const ScheduleControl* schedules = api.relays_.schedules();
             return ApiReply{200,
                             compact(QJsonDocument(QJsonObject{
                                 {QStringLiteral("paused"),
                                  schedules ? QJsonValue(schedules->paused()) : QJsonValue()},
                                 {QStringLiteral("entries"),
                                  schedules ? schedules->coming(kScheduleDays) : QJsonArray()}})),
                             {}};
         }},
        {"PUT", QStringLiteral("/api/schedules"),
         [](PanelApi& api, int, auto& request) { return api.pauseSchedules(request); }},
        {"GET", QStringLiteral("/api/ports"),
         [](PanelApi& api, int, auto&) {
             return ApiReply{200, portsJson(api.ports_()), {}};
         }},
        {"PUT", QStringLiteral("/api/relays"),
         [](PanelApi& api, int, auto& request) { return api.setMask(request); }},
        {"PUT", QStringLiteral("/api/relays/{n}"),
         [](PanelApi& api, int relay, auto& request) { return api.setRelay(relay, request); }},
        {"POST", QStringLiteral("/api/relays/{n}/toggle"),
         [](PanelApi& api, int relay, auto& request) {
             return api.run(RelayCommand::toggleRelay(relay), request.caller);
         }},
        {"POST", QStringLiteral("/api/relays/{n}/pulse"),
         [](PanelApi& api, int relay, auto& request) { return api.pulse(relay, request); }},
        {"POST", QStringLiteral("/api/link"),
         [](PanelApi& api, int, auto& request) { return api.startLink(request); }},
        {"DELETE", QStringLiteral("/api/link"),
         [](PanelApi& api, int, auto& request) {
             return api.run(RelayCommand::stop(), request.caller);
         }},
    };
    return table;
}

ApiReply PanelApi::handle(const ApiRequest& request) {
    // A relay's number stands where a route has {n}.
    static const QRegularExpression number(QStringLiteral("(?<=^/api/relays/)[0-9]{1,3}(?=/|$)"));
    const QRegularExpressionMatch relay = number.match(request.path);
    QString shape = request.path;
    if (relay.hasMatch()) {
        shape.replace(relay.capturedStart(), relay.capturedLength(), QStringLiteral("{n}"));
    }
    std::vector<const Route*> here;
    for (const Route& route : routes()) {
        if (route.path == shape) {
            here.push_back(&route);
        }
    }
    if (here.empty()) {
        return apiError(404, QStringLiteral("Unbekannter Pfad."));
    }
    if (relay.hasMatch()) {
        // A relay that does not exist is a path that does not.
        const RelayCommand::Made probe = RelayCommand::toggleRelay(relay.captured().toLongLong());
        if (const auto* refusal = std::get_if<Refusal>(&probe)) {
            return refused(*refusal, 404);
        }
    }
    QByteArray allow;
    for (const Route* route : here) {
        if (route->method == request.method) {
            return route->run(*this, relay.captured().toInt(), request);
        }
        allow += (allow.isEmpty() ? "" : ", ") + route->method;
    }
    ApiReply reply = apiError(405, QStringLiteral("Diese Methode gilt hier nicht."));
    reply.allow = allow;
    return reply;
}

ApiReply PanelApi::pauseSchedules(const ApiRequest& request) {
    const auto object = objectFrom(request.body);
    const QJsonValue paused = object ? object->value(QStringLiteral("paused")) : QJsonValue();
    if (!paused.isBool()) {
        return apiError(400, QStringLiteral("Erwartet wird {\"paused\": true} oder "
                                            "{\"paused\": false}."));
    }
    return run(RelayCommand::pauseSchedules(paused.toBool()), request.caller);
}

ApiReply PanelApi::setRelay(int relay, const ApiRequest& request) {
    const auto object = objectFrom(request.body);
    if (!object) {
        return apiError(400, kBadJson);
    }
    const QJsonValue on = object->value(QStringLiteral("on"));
    if (!on.isBool()) {
        return apiError(400, QStringLiteral("Erwartet wird {\"on\": true} oder {\"on\": false}."));
    }
    return run(RelayCommand::setRelay(relay, on.toBool()), request.caller);
}

ApiReply PanelApi::pulse(int relay, const ApiRequest& request) {
    const auto object = objectFrom(request.body, true);
    if (!object) {
        return apiError(400, kBadJson);
    }
    const QJsonValue value = object->value(QStringLiteral("ms"));
    std::optional<qint64> ms;
    if (!value.isUndefined() && !value.isNull()) {
        ms = wholeNumber(value);
        if (!ms) {
            return apiError(400, QStringLiteral("Erwartet wird {\"ms\": N} oder {}."));
        }
    }
    const RelayCommand::Made made = RelayCommand::pulse(relay, ms);
    ApiReply reply = run(made, request.caller);
    if (reply.status == 200) {
        // The length as carried out: the relay's own, or rounded to ticks.
        QJsonObject state = QJsonDocument::fromJson(reply.body).object();
        state.insert(QStringLiteral("pulse_ms"),
                     double(std::get<RelayCommand>(made).pulseMs(relays_.rules())));
        reply.body = compact(QJsonDocument(state));
    }
    return reply;
}

ApiReply PanelApi::setMask(const ApiRequest& request) {
    const auto object = objectFrom(request.body);
    if (!object) {
        return apiError(400, kBadJson);
    }
    const auto mask = wholeNumber(object->value(QStringLiteral("mask")));
    if (!mask) {
        return apiError(400, QStringLiteral("Erwartet wird {\"mask\": N} mit N von 0 bis 65535."));
    }
    return run(RelayCommand::setAll(*mask), request.caller);
}

ApiReply PanelApi::startLink(const ApiRequest& request) {
    const auto object = objectFrom(request.body, true);
    if (!object) {
        return apiError(400, kBadJson);
    }
    const QJsonValue value = object->value(QStringLiteral("port"));
    if (value.isUndefined() || value.isNull()) {
        return run(RelayCommand::start({}, true), request.caller);
    }
    if (value.isString()) {
        return run(RelayCommand::start(value.toString(), true), request.caller);
    }
    if (const auto number = wholeNumber(value)) {
        return run(RelayCommand::startOnNumber(*number, true), request.caller);
    }
    return apiError(400, QStringLiteral("Erwartet wird {\"port\": \"COM 1\"} (COM 1 bis COM 8 oder "
                                        "1 bis 8)."));
}

} // namespace relais::web
