#include "settings_lines.h"

namespace relais {

std::optional<SettingFault>
readSettingLines(const QList<QByteArray>& lines,
                 const std::function<std::optional<QString>(const SettingLine&)>& visit) {
    SettingLine current;
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = QString::fromUtf8(lines[n]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        current.number = n + 1;
        current.header = line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'));
        if (current.header) {
            current.section = line.mid(1, line.size() - 2).trimmed();
            current.key.clear();
            current.value.clear();
        } else {
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            current.hasValue = equals >= 0;
            current.key = line.left(equals).trimmed();
            current.value = line.mid(equals + 1).trimmed();
            if (current.value.size() >= 2 && current.value.startsWith(QLatin1Char('"')) &&
                current.value.endsWith(QLatin1Char('"'))) {
                current.value = current.value.mid(1, current.value.size() - 2);
            }
        }
        if (const auto fault = visit(current)) {
            return SettingFault{current.number, *fault};
        }
    }
    return std::nullopt;
}

} // namespace relais
