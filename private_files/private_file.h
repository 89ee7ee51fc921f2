#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

namespace relais {

// Files with secrets in them: the web panel's password, tokens, sessions
// and key, the broker's credentials.

// Writes `data` to `path` so that only its owner may read it (mode 0600),
// replacing the file in one step. Where the folder belongs to another user
// (the service's state folder, written by root), the file is given to
// that user. An error text on failure.
std::optional<QString> writePrivateFile(const QString& path, const QByteArray& data);
// The platform's part of that, before the file replaces the old one.
std::optional<QString> settlePrivateFile(QFile& file, const QString& folder);

// Whether anyone but the file's owner (and, on Windows, SYSTEM and the
// Administrators) may read the file. True also when that cannot be told.
bool othersMayRead(const QString& path);

} // namespace relais
