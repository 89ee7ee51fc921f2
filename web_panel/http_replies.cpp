#include "http_replies.h"

#include "web_options.h"

#include <QDateTime>
#include <QFile>

#include <chrono>

namespace relais::web {

qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 wallSeconds() {
    return QDateTime::currentSecsSinceEpoch();
}

void setReply(httplib::Response& res, const ApiReply& reply) {
    res.status = reply.status;
    res.set_content(reply.body.toStdString(), kJson);
    res.set_header("Cache-Control", "no-store"); // answers under a session stay out of caches
    if (!reply.allow.isEmpty()) {
        res.set_header("Allow", reply.allow.toStdString());
    }
}

void setError(httplib::Response& res, int status, const QString& text) {
    setReply(res, apiError(status, text));
}

// The media type alone, without parameters, in lower case.
std::string mediaType(const httplib::Request& req) {
    std::string type = req.get_header_value("Content-Type");
    type = type.substr(0, type.find(';'));
    while (!type.empty() && type.back() == ' ') {
        type.pop_back();
    }
    for (char& c : type) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return type;
}

// The value of one cookie in the Cookie header, empty if absent.
std::string cookieValue(const httplib::Request& req, const std::string& name) {
    const std::string header = req.get_header_value("Cookie");
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) {
            end = header.size();
        }
        std::string pair = header.substr(at, end - at);
        const size_t first = pair.find_first_not_of(' ');
        pair = first == std::string::npos ? std::string() : pair.substr(first);
        if (pair.compare(0, name.size() + 1, name + '=') == 0) {
            return pair.substr(name.size() + 1);
        }
        at = end + 1;
    }
    return {};
}

// Whether the Host header names this machine's loopback: without a
// password, nothing else is served, so that a foreign name bound to
// 127.0.0.1 (DNS rebinding) reaches nothing.
bool hostIsLoopback(const std::string& host) {
    std::string name = host;
    if (!name.empty() && name.front() == '[') {
        name = name.substr(1, name.find(']') - 1);
    } else {
        name = name.substr(0, name.rfind(':'));
    }
    return isLoopback(QString::fromStdString(name));
}

QByteArray readResource(const QString& name) {
    QFile file(QStringLiteral(":/web/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString errorText(int status) {
    switch (status) {
    case 400:
        return QStringLiteral("Ungültige Anfrage.");
    case 404:
        return QStringLiteral("Unbekannter Pfad.");
    case 405:
        return QStringLiteral("Diese Methode gilt hier nicht.");
    case 413:
        return QStringLiteral("Die Anfrage ist zu groß: höchstens 4 KiB.");
    case 415:
        return QStringLiteral("Gepackte Anfragen werden nicht angenommen.");
    case 416:
        return QStringLiteral("Dieser Bereich der Datei ist nicht lieferbar.");
    case 414:
    case 431:
        return QStringLiteral("Die Kopfzeilen sind zu groß: höchstens 8 KiB.");
    case 503:
        return QStringLiteral("Zu viele Verbindungen.");
    default:
        return QStringLiteral("Fehler im Programm.");
    }
}

// On every answer, the ones refused unread too.
httplib::Headers securityHeaders() {
    return {
        {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
    };
}

} // namespace relais::web
