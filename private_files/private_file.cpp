#include "private_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace relais {

std::optional<QString> writePrivateFile(const QString& path, const QByteArray& data) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        return QStringLiteral("Ordner »%1« kann nicht angelegt werden.").arg(info.absolutePath());
    }
    const QString temporary = path + QStringLiteral(".neu");
    QFile::remove(temporary);
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(data) != data.size() || !file.flush()) {
        file.remove();
        return QStringLiteral("»%1« kann nicht geschrieben werden: %2")
            .arg(path, file.errorString());
    }
    if (const auto error = settlePrivateFile(file, info.absolutePath())) {
        file.remove();
        return error;
    }
    file.close();
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(temporary.toStdU16String()),
                            std::filesystem::path(path.toStdU16String()), error);
    if (error) {
        QFile::remove(temporary);
        return QStringLiteral("»%1« kann nicht geschrieben werden: %2")
            .arg(path, QString::fromStdString(error.message()));
    }
    return std::nullopt;
}

} // namespace relais
