#include "file_privacy.h"

#include <QFileInfo>

namespace relais::mqtt {

bool othersMayRead(const QString& path) {
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return QFileInfo(path).permissions() & others;
}

} // namespace relais::mqtt
