#include "panel_api.h"

#include "relay_command.h"
#include "relay_panel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

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

QByteArray PanelApi::stateJson() const {
    const quint16 mask = relays_.relays();
    QJsonArray relays;
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        relays.append(bool(mask & (1u << (relay - 1))));
    }
    QJsonValue port = QJsonValue::Null;
    if (relays_.isRunning()) {
        const QString device = relays_.portInUse();
        port = device;
        const QStringList devices = ports_();
        for (int n = 1; n <= devices.size() && n <= kPortCount; ++n) {
            if (!device.isEmpty() && devices[n - 1] == device) {
                port = QStringLiteral("COM %1").arg(n);
            }
        }
    }
    return compact(QJsonDocument(QJsonObject{
        {QStringLiteral("relays"), relays},
        {QStringLiteral("mask"), int(mask)},
        {QStringLiteral("link"),
         relays_.isRunning() ? QStringLiteral("running") : QStringLiteral("stopped")},
        {QStringLiteral("port"), port},
        {QStringLiteral("revision"), double(revision_)},
    }));
}

QByteArray PanelApi::portsJson(const QStringList& devices) {
    QJsonArray list;
    for (int n = 1; n <= kPortCount; ++n) {
        const QString device = devices.value(n - 1);
        list.append(QJsonObject{
            {QStringLiteral("name"), QStringLiteral("COM %1").arg(n)},
            {QStringLiteral("device"), device.isEmpty() ? QJsonValue() : QJsonValue(device)},
            {QStringLiteral("present"), !device.isEmpty()},
        });
    }
    return compact(QJsonDocument(list));
}

ApiReply PanelApi::state() const {
    return ApiReply{200, stateJson(), {}};
}

ApiReply PanelApi::run(const RelayCommand::Made& made) {
    const auto refusal = carryOut(relays_, made, ports_);
    return refusal ? refused(*refusal) : state();
}

ApiReply PanelApi::handle(const ApiRequest& request) {
    static const QRegularExpression relayPath(QStringLiteral("^/api/relays/([0-9]{1,3})$"));
    static const QRegularExpression togglePath(QStringLiteral("^/api/relays/([0-9]{1,3})/toggle$"));
    const auto wrongMethod = [](const QByteArray& allow) {
        ApiReply reply = apiError(405, QStringLiteral("Diese Methode gilt hier nicht."));
        reply.allow = allow;
        return reply;
    };
    const QByteArray& method = request.method;
    const QString& path = request.path;
    if (path == QLatin1String("/api/state")) {
        return method == "GET" ? state() : wrongMethod("GET");
    }
    if (path == QLatin1String("/api/ports")) {
        return method == "GET" ? ApiReply{200, portsJson(ports_()), {}} : wrongMethod("GET");
    }
    if (path == QLatin1String("/api/relays")) {
        return method == "PUT" ? setMask(request.body) : wrongMethod("PUT");
    }
    if (path == QLatin1String("/api/link")) {
        if (method == "POST") {
            return startLink(request.body);
        }
        return method == "DELETE" ? run(RelayCommand::stop()) : wrongMethod("POST, DELETE");
    }
    const auto relayMatch = relayPath.match(path);
    const auto toggleMatch = togglePath.match(path);
    if (!relayMatch.hasMatch() && !toggleMatch.hasMatch()) {
        return apiError(404, QStringLiteral("Unbekannter Pfad."));
    }
    const qint64 relay =
        (relayMatch.hasMatch() ? relayMatch : toggleMatch).captured(1).toLongLong();
    // A relay that does not exist is a path that does not.
    const RelayCommand::Made probe = RelayCommand::toggleRelay(relay);
    if (const auto* refusal = std::get_if<Refusal>(&probe)) {
        return refused(*refusal, 404);
    }
    if (relayMatch.hasMatch()) {
        return method == "PUT" ? setRelay(int(relay), request.body) : wrongMethod("PUT");
    }
    return method == "POST" ? run(RelayCommand::toggleRelay(relay)) : wrongMethod("POST");
}

ApiReply PanelApi::setRelay(int relay, const QByteArray& body) {
    const auto object = objectFrom(body);
    if (!object) {
        return apiError(400, kBadJson);
    }
    const QJsonValue on = object->value(QStringLiteral("on"));
    if (!on.isBool()) {
        return apiError(400, QStringLiteral("Erwartet wird {\"on\": true} oder {\"on\": false}."));
    }
    return run(RelayCommand::setRelay(relay, on.toBool()));
}

ApiReply PanelApi::setMask(const QByteArray& body) {
    const auto object = objectFrom(body);
    if (!object) {
        return apiError(400, kBadJson);
    }
    const auto mask = wholeNumber(object->value(QStringLiteral("mask")));
    if (!mask) {
        return apiError(400, QStringLiteral("Erwartet wird {\"mask\": N} mit N von 0 bis 65535."));
    }
    return run(RelayCommand::setAll(*mask));
}

ApiReply PanelApi::startLink(const QByteArray& body) {
    const auto object = objectFrom(body, true);
    if (!object) {
        return apiError(400, kBadJson);
    }
    const QJsonValue value = object->value(QStringLiteral("port"));
    if (value.isUndefined() || value.isNull()) {
        return run(RelayCommand::start({}, true));
    }
    if (value.isString()) {
        return run(RelayCommand::start(value.toString(), true));
    }
    if (const auto number = wholeNumber(value)) {
        return run(RelayCommand::startOnNumber(*number, true));
    }
    return apiError(400, QStringLiteral("Erwartet wird {\"port\": \"COM 1\"} (COM 1 bis COM 8 oder "
                                        "1 bis 8)."));
}

} // namespace relais::web
