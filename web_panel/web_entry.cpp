#include "web_entry.h"

#include "certificate.h"
#include "exit_codes.h"
#include "host_addresses.h"
#include "login_store.h"
#include "secret_input.h"
#include "web_panel.h"

#include <QFile>
#include <QFileInfo>

using namespace relais;
using namespace relais::web;

namespace {

constexpr int kMinimumPasswordLength = 8;

int setPassword(const PanelOptions& options, QTextStream& err) {
    const auto first = readSecretLine(QStringLiteral("Neues Passwort für das Web-Panel: "));
    if (!first) {
        err << QStringLiteral("Kein Passwort eingegeben.") << Qt::endl;
        return kExitUsage;
    }
    if (QString::fromUtf8(*first).size() < kMinimumPasswordLength) {
        err << QStringLiteral("Das Passwort ist zu kurz: mindestens %1 Zeichen.")
                   .arg(kMinimumPasswordLength)
            << Qt::endl;
        return kExitUsage;
    }
    if (inputIsTerminal() && readSecretLine(QStringLiteral("Noch einmal: ")) != first) {
        err << QStringLiteral("Die Passwörter sind verschieden; nichts geändert.") << Qt::endl;
        return kExitUsage;
    }
    if (const auto error = writePrivateFile(options.passwordFile, hashPassword(*first) + '\n')) {
        err << *error << Qt::endl;
        return kExitUsage;
    }
    // A new password ends every session made with the old one.
    QFile::remove(sessionsFile(options));
    err << QStringLiteral("Passwort gespeichert in %1.").arg(options.passwordFile) << Qt::endl;
    return kExitOk;
}

int printFingerprint(const PanelOptions& options, QTextStream& out, QTextStream& err) {
    QString certFile = options.certFile;
    if (certFile.isEmpty()) {
        certFile = selfSignedCertFile(options);
        if (!QFileInfo::exists(certFile)) {
            if (const auto error = makeSelfSigned(certFile, selfSignedKeyFile(options), hostNames(),
                                                  hostAddresses())) {
                err << *error << Qt::endl;
                return kExitUsage;
            }
        }
    }
    QString error;
    const QString text = fingerprint(certFile, error);
    if (text.isEmpty()) {
        err << error << Qt::endl;
        return kExitUsage;
    }
    out << text << Qt::endl;
    return kExitOk;
}

} // namespace

extern "C" Q_DECL_EXPORT RemoteAccess*
relaiskarteOpenWebPanel(RelayOperations& relays, const PanelOptions& options, QTextStream& log) {
    auto panel = std::make_unique<WebPanel>(relays, options, log);
    return panel->start() ? panel.release() : nullptr;
}

extern "C" Q_DECL_EXPORT int relaiskarteRunWebCommand(const StoreCommand& command, QTextStream& out,
                                                      QTextStream& err) {
    const TokenFile tokens(tokensFile(command.options));
    QString error;
    switch (command.kind) {
    case StoreCommand::Kind::SetPassword:
        return setPassword(command.options, err);
    case StoreCommand::Kind::NewToken: {
        const QByteArray token = tokens.add(command.tokenName, error);
        if (token.isEmpty()) {
            err << error << Qt::endl;
            return kExitUsage;
        }
        err << QStringLiteral("Token »%1« (nur jetzt zu sehen; für "
                              "Authorization: Bearer …):")
                   .arg(command.tokenName)
            << Qt::endl;
        out << token << Qt::endl;
        return kExitOk;
    }
    case StoreCommand::Kind::ListTokens:
        for (const QString& name : tokens.names()) {
            out << name << Qt::endl;
        }
        return kExitOk;
    case StoreCommand::Kind::RevokeToken:
        if (!tokens.revoke(command.tokenName, error)) {
            err << error << Qt::endl;
            return kExitUsage;
        }
        return kExitOk;
    case StoreCommand::Kind::Fingerprint:
        return printFingerprint(command.options, out, err);
    }
    return kExitUsage;
}
