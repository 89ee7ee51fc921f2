#pragma once

#include <QFile>
#include <QTemporaryDir>

// A settings file of `text` in `dir`, for the program or its readers.
inline QString settingsFile(const QTemporaryDir& dir, const QByteArray& text) {
    const QString path = dir.filePath(QStringLiteral("relaiskarte.conf"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}
