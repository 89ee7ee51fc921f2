#include "last_state.h"

#include "private_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace relais {

namespace {

QJsonArray timesOf(const std::array<qint64, kRelayCount>& times) {
    QJsonArray list;
    for (qint64 t : times) {
        list.append(double(t));
    }
    return list;
}

bool readTimes(const QJsonValue& value, std::array<qint64, kRelayCount>& times) {
    const QJsonArray list = value.toArray();
    if (list.size() != kRelayCount) {
        return false;
    }
    for (int i = 0; i < kRelayCount; ++i) {
        times[i] = list[i].toInteger(-1);
        if (times[i] < 0) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<QString> saveLastState(const QString& path, const LastState& state) {
    QDir().mkpath(QFileInfo(path).path());
    const QJsonObject object{
        {QStringLiteral("pattern"), int(state.pattern)},
        {QStringLiteral("pulse_end"), timesOf(state.pulseEnd)},
        {QStringLiteral("max_on_end"), timesOf(state.maxOnEnd)},
    };
    return writePrivateFile(path, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::variant<LastState, QString> loadLastState(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        return LastState{}; // never written: all off
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("%1 nicht lesbar: %2").arg(path, file.errorString());
    }
    const QJsonObject object = QJsonDocument::fromJson(file.read(4096)).object();
    LastState state;
    const qint64 pattern = object.value(QStringLiteral("pattern")).toInteger(-1);
    if (pattern < 0 || pattern > 0xFFFF ||
        !readTimes(object.value(QStringLiteral("pulse_end")), state.pulseEnd) ||
        !readTimes(object.value(QStringLiteral("max_on_end")), state.maxOnEnd)) {
        return QStringLiteral("%1 ist beschädigt").arg(path);
    }
    state.pattern = quint16(pattern);
    return state;
}

} // namespace relais
