#pragma once

#include <QCoreApplication>
#include <QTranslator>

namespace relais {

// The program's name, version and maker, as the help, the broker's device
// entry and the settings folders use them; the same for the command line,
// the service and the window.
void nameApplication();

// Qt's own texts (dialog buttons, the parser's errors) in German where Qt's
// translation is installed.
void installQtTexts(QCoreApplication& app, QTranslator& texts);

} // namespace relais
