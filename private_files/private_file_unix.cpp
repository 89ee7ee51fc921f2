// Secret files on Unix: the mode keeps others out; a file made by root in a
// folder that belongs to another user (the service's state folder) is given
// to that user, so that the service can read it, and is written to the disk
// before it replaces the old one.

#include "private_file.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace relais {

std::optional<QString> settlePrivateFile(QFile& file, const QString& folder) {
    ::fsync(file.handle());
    struct stat owner {};
    if (::geteuid() == 0 && ::stat(QFile::encodeName(folder).constData(), &owner) == 0 &&
        owner.st_uid != 0 && ::fchown(file.handle(), owner.st_uid, owner.st_gid) != 0) {
        return QStringLiteral("»%1« kann nicht übergeben werden.").arg(file.fileName());
    }
    return std::nullopt;
}

bool othersMayRead(const QString& path) {
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return QFileInfo(path).permissions() & others;
}

} // namespace relais
