#include "host_addresses.h"

#include <QSysInfo>

namespace relais::web {

QStringList hostNames() {
    QStringList names{QSysInfo::machineHostName()};
    names << QStringLiteral("localhost");
    names.removeAll(QString());
    names.removeDuplicates();
    return names;
}

} // namespace relais::web
