#include "panel_auth.h"

#include "client_address.h"

#include <QFile>

namespace relais::web {

QByteArray Shared::storedPassword() {
    QFile file(options.passwordFile);
    QByteArray line = file.open(QIODevice::ReadOnly) ? file.read(4096).trimmed() : QByteArray();
    std::lock_guard lock(authMutex);
    sessions->passwordIs(line, wallSeconds());
    if (passwordRequired && line.isEmpty() != passwordLost) {
        passwordLost = line.isEmpty();
        if (passwordLost) {
            say(QStringLiteral("Passwortdatei %1 fehlt oder ist nicht lesbar: keine Anmeldung "
                               "möglich, nur noch Tokens gelten.")
                    .arg(options.passwordFile));
        }
    }
    return line;
}

Shared::Caller Shared::identify(const httplib::Request& req, QString* who) {
    const QString client = addressKey(QString::fromStdString(req.remote_addr));
    QString ignored;
    who = who != nullptr ? who : &ignored;
    const QByteArray password = storedPassword();
    if (password.isEmpty() && !passwordRequired) {
        *who = QStringLiteral("ohne Anmeldung, %1").arg(client);
        return Caller::Anyone;
    }
    const std::string authorization = req.get_header_value("Authorization");
    if (authorization.rfind("Bearer ", 0) == 0) {
        {
            std::lock_guard lock(authMutex);
            if (throttle.attempt(client, steadyMs(), false) != LoginThrottle::Verdict::Check) {
                return Caller::Locked;
            }
        }
        if (const auto holder = TokenFile(tokensFile(options))
                                    .holder(QByteArray::fromStdString(authorization.substr(7)))) {
            *who = QStringLiteral("Token %1").arg(*holder);
            std::lock_guard lock(authMutex);
            throttle.succeeded(client);
            return Caller::Token;
        }
        wrongSecret(client, false);
        return Caller::Refused;
    }
    const std::string cookie = cookieValue(req, kCookieName);
    if (!cookie.empty()) {
        std::lock_guard lock(authMutex);
        if (sessions->use(QByteArray::fromStdString(cookie), wallSeconds())) {
            *who = QStringLiteral("Sitzung von %1").arg(client);
            return Caller::Session;
        }
    }
    return Caller::Refused;
}

void Shared::wrongSecret(const QString& client, bool password) {
    std::lock_guard lock(authMutex);
    if (throttle.failed(client, steadyMs(), password)) {
        say(QStringLiteral("%1 falsche Anmeldungen von %2; diese Adresse ist für "
                           "10 Minuten gesperrt.")
                .arg(LoginThrottle::kAttempts)
                .arg(client));
    }
}

bool Shared::refuse(Caller caller, httplib::Response& res) {
    if (caller == Caller::Locked) {
        setError(res, 429, lockedText());
        return true;
    }
    if (caller == Caller::Refused) {
        setError(res, 401, QStringLiteral("Bitte anmelden."));
        return true;
    }
    return false;
}

QString Shared::lockedText() {
    return QStringLiteral("Zu viele falsche Anmeldungen: diese Adresse ist für "
                          "10 Minuten gesperrt.");
}

// The password from the form in the body; never from the query string,
// which ends up in logs and histories.
QByteArray formPassword(const httplib::Request& req) {
    httplib::Params fields;
    httplib::detail::parse_query_text(req.body, fields);
    const auto found = fields.find("password");
    return found == fields.end() ? QByteArray() : QByteArray::fromStdString(found->second);
}

// Checks a password under the throttle; the status to answer, 204 when right.
int checkPassword(Shared& shared, const QString& client, const QByteArray& stored,
                  const QByteArray& password, httplib::Response& res) {
    LoginThrottle::Verdict verdict;
    {
        std::lock_guard lock(shared.authMutex);
        verdict = shared.throttle.attempt(client, steadyMs(), true);
        if (verdict == LoginThrottle::Verdict::Wait) {
            const qint64 seconds = (shared.throttle.waitMs(steadyMs()) + 999) / 1000;
            res.set_header("Retry-After", std::to_string(std::max<qint64>(seconds, 1)));
        }
    }
    if (verdict != LoginThrottle::Verdict::Check) {
        return 429;
    }
    bool right = false;
    {
        std::lock_guard lock(shared.passwordMutex);
        right = verifyPassword(password, stored);
    }
    if (!right) {
        shared.wrongSecret(client, true);
        return 401;
    }
    std::lock_guard lock(shared.authMutex);
    shared.throttle.succeeded(client);
    return 204;
}

} // namespace relais::web
