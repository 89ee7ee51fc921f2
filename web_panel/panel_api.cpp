#include "panel_api.h"

#include "network_ports.h"

#include "link_control.h"
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

// A JSON number that is a whole number within [low, high].
std::optional<int> wholeNumber(const QJsonValue& value, int low, int high) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (number != double(qint64(number)) || number < low || number > high) {
        return std::nullopt;
    }
    return int(number);
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

ApiReply PanelApi::handle(const ApiRequest& request) {
    static const QRegularExpression relayPath(QStringLiteral("^/api/relays/([0-9]{1,3})$"));
    static const QRegularExpression togglePath(QStringLiteral("^/api/relays/([0-9]{1,3})/toggle$"));
    const auto wrongMethod = [](const QByteArray& allow) {
        ApiReply reply = apiError(405, QStringLiteral("Diese Methode gilt hier nicht."));
        reply.allow = allow;
        return reply;
    };
    const auto noRelay = [](const QString& number) {
        return apiError(
            404, QStringLiteral("Relais %1 gibt es nicht: erlaubt sind 1 bis 16.").arg(number));
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
        if (method == "DELETE") {
            relays_.stop();
            return state();
        }
        return wrongMethod("POST, DELETE");
    }
    if (const auto match = relayPath.match(path); match.hasMatch()) {
        const int relay = match.captured(1).toInt();
        if (relay < 1 || relay > kRelayCount) {
            return noRelay(match.captured(1));
        }
        return method == "PUT" ? setRelay(relay, request.body) : wrongMethod("PUT");
    }
    if (const auto match = togglePath.match(path); match.hasMatch()) {
        const int relay = match.captured(1).toInt();
        if (relay < 1 || relay > kRelayCount) {
            return noRelay(match.captured(1));
        }
        return method == "POST" ? toggleRelay(relay) : wrongMethod("POST");
    }
    return apiError(404, QStringLiteral("Unbekannter Pfad."));
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
    relays_.setRelay(relay, on.toBool());
    return state();
}

ApiReply PanelApi::toggleRelay(int relay) {
    const bool on = relays_.relays() & (1u << (relay - 1));
    relays_.setRelay(relay, !on);
    return state();
}

ApiReply PanelApi::setMask(const QByteArray& body) {
    const auto object = objectFrom(body);
    if (!object) {
        return apiError(400, kBadJson);
    }
    const auto mask = wholeNumber(object->value(QStringLiteral("mask")), 0, 0xFFFF);
    if (!mask) {
        return apiError(400, QStringLiteral("Erwartet wird {\"mask\": N} mit N von 0 bis 65535."));
    }
    relays_.setRelays(quint16(*mask));
    return state();
}

ApiReply PanelApi::startLink(const QByteArray& body) {
    const auto object = objectFrom(body, true);
    if (!object) {
        return apiError(400, kBadJson);
    }
    const QString badPort =
        QStringLiteral("Erwartet wird {\"port\": \"COM 1\"} (COM 1 bis COM 8, 1 bis 8, "
                       "/dev/serial/by-id/…, /dev/serial/by-path/… oder die bekannte "
                       "Schnittstelle).");
    const QJsonValue value = object->value(QStringLiteral("port"));
    std::optional<PortSpec> port;
    if (value.isUndefined() || value.isNull()) {
        port = relays_.knownPort();
        if (!port) {
            return apiError(400, QStringLiteral("Es ist noch keine Schnittstelle gewählt."));
        }
    } else if (value.isDouble()) {
        const auto number = wholeNumber(value, 1, kPortCount);
        if (!number) {
            return apiError(400, badPort);
        }
        port = PortSpec{*number, {}};
    } else if (value.isString()) {
        port = parsePortSpec(value.toString());
        if (port && !allowedFromNetwork(*port, ports_(), relays_.knownPort())) {
            port.reset();
        }
        if (!port) {
            return apiError(400, badPort);
        }
    } else {
        return apiError(400, badPort);
    }
    if (relays_.isRunning()) {
        const QString wanted = port->number > 0 ? ports_().value(port->number - 1) : port->device;
        if (wanted != relays_.portInUse()) {
            return apiError(409, QStringLiteral("Die Verbindung läuft schon auf %1; erst "
                                                "stoppen.")
                                     .arg(relays_.portInUse()));
        }
        return state();
    }
    try {
        relays_.startOn(*port);
    } catch (const CommError& error) {
        const QString message = messageFor(error);
        const qsizetype lineEnd = message.indexOf(QLatin1Char('\n'));
        if (lineEnd < 0) {
            return apiError(409, message,
                            QStringLiteral("%1: %2").arg(error.device(), error.reason()));
        }
        return apiError(409, message.left(lineEnd), message.mid(lineEnd + 1));
    }
    return state();
}

} // namespace relais::web
