#include "application_setup.h"

#include <QLibraryInfo>
#include <QLocale>

namespace relais {

void nameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("relaiskarte"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RELAIS_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Korvander"));
}

void installQtTexts(QCoreApplication& app, QTranslator& texts) {
    if (texts.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(&texts);
    }
}

} // namespace relais
