#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace relais {

// One line of a settings file (INI) that is not blank or a comment: a
// section header, or a key and its value (quotes taken off) in a section.
struct SettingLine {
    int number = 0; // from 1
    QString section;
    bool header = false;
    bool hasValue = false; // false: a line without '=' (a fault where the section is read)
    QString key;
    QString value;
};
inline const QString kExpectedKeyValue = QStringLiteral("erwartet wird SCHLÜSSEL = WERT");

// Runs `visit` for each such line in order; the first fault it returns
// ends the reading, with the line it was on.
struct SettingFault {
    int line = 0;
    QString text;
};
std::optional<SettingFault>
readSettingLines(const QList<QByteArray>& lines,
                 const std::function<std::optional<QString>(const SettingLine&)>& visit);

} // namespace relais
