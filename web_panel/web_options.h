#pragma once

#include <QString>

#include <optional>

namespace relais::web {

// Where and how the panel listens, and where its login lives.
struct PanelOptions {
    QString address; // empty: every address
    quint16 port = 0;
    bool plainHttp = false; // TLS off on purpose
    QString certFile;       // empty: the self-signed one beside the password
    QString keyFile;
    // The password's hash; the sessions, the tokens and the self-signed
    // certificate are kept beside it.
    QString passwordFile;
};

// "[ADDRESS:]PORT" ("8443", "127.0.0.1:8443", "[::1]:8443") into `options`;
// a German error text otherwise.
std::optional<QString> parseListenAddress(const QString& text, PanelOptions& options);

// True when only this machine can reach `address` (127.0.0.0/8, ::1,
// "localhost"); an empty address (every address) is not.
bool isLoopback(const QString& address);

// Whether the panel speaks HTTPS with these options: beyond loopback by
// default, on loopback only when a certificate is given.
bool usesTls(const PanelOptions& options);

// The user's password file when none is named: in the user's settings folder.
QString defaultPasswordFile();

// The files kept beside the password file.
QString sessionsFile(const PanelOptions& options);
QString tokensFile(const PanelOptions& options);
QString selfSignedCertFile(const PanelOptions& options);
QString selfSignedKeyFile(const PanelOptions& options);

// What the command line asks of the login store.
struct StoreCommand {
    enum class Kind { SetPassword, NewToken, ListTokens, RevokeToken, Fingerprint };
    Kind kind = Kind::SetPassword;
    PanelOptions options;
    QString tokenName;
};

} // namespace relais::web
