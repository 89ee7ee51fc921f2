#pragma once

// The rows of relay_contract.json, and the command each one names, for the
// ways in that take commands in C++ terms.

#include "relay_command.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

struct ContractRow {
    QString name;
    bool running = false;
    QJsonArray command; // ["set", 3, true], ["start", "A"], ...
    QString expectLocal;
    QString expectNetwork;
    int mask = 0;
    bool linkAfter = false; // running on A after it
    QString verb() const { return command.at(0).toString(); }
};

inline int contractBefore() {
    return 1;
}

inline QList<ContractRow> contractRows() {
    QFile file(QStringLiteral(RELAY_CONTRACT_PATH));
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("the contract table is missing");
    }
    const QJsonObject table = QJsonDocument::fromJson(file.readAll()).object();
    Q_ASSERT(table.value(QStringLiteral("before")).toInt() == contractBefore());
    QList<ContractRow> rows;
    for (const QJsonValue value : table.value(QStringLiteral("rows")).toArray()) {
        const QJsonObject row = value.toObject();
        const QJsonValue expect = row.value(QStringLiteral("expect"));
        ContractRow r;
        r.name = row.value(QStringLiteral("name")).toString();
        r.running = row.value(QStringLiteral("running")).toBool();
        r.command = row.value(QStringLiteral("command")).toArray();
        r.expectLocal =
            expect.isString() ? expect.toString() : expect[QStringLiteral("local")].toString();
        r.expectNetwork =
            expect.isString() ? expect.toString() : expect[QStringLiteral("network")].toString();
        r.mask = row.value(QStringLiteral("mask")).toInt();
        r.linkAfter = row.value(QStringLiteral("link")).toString() == QLatin1String("A");
        rows << r;
    }
    return rows;
}

// The refusal's kind in the table's words; "done" for none.
inline QString contractOutcome(const std::optional<relais::Refusal>& refusal) {
    if (!refusal) {
        return QStringLiteral("done");
    }
    switch (refusal->kind) {
    case relais::Refusal::Kind::BadArgument:
        return QStringLiteral("bad");
    case relais::Refusal::Kind::Conflict:
        return QStringLiteral("conflict");
    case relais::Refusal::Kind::PortError:
        break;
    }
    return QStringLiteral("port");
}

// The row's command for the core; `ports` names A, OTHER, MISSING, FILE
// and BAD as this test has them.
inline relais::RelayCommand::Made
contractCommand(const ContractRow& row, const QHash<QString, QString>& ports, bool fromNetwork) {
    using relais::RelayCommand;
    const QString verb = row.verb();
    const qint64 number = qint64(row.command.at(1).toDouble());
    if (verb == QLatin1String("set")) {
        return RelayCommand::setRelay(number, row.command.at(2).toBool());
    }
    if (verb == QLatin1String("toggle")) {
        return RelayCommand::toggleRelay(number);
    }
    if (verb == QLatin1String("pulse")) {
        const QJsonValue ms = row.command.at(2);
        return RelayCommand::pulse(number, ms.isNull() ? std::nullopt
                                                       : std::optional<qint64>(ms.toInteger()));
    }
    if (verb == QLatin1String("all")) {
        return RelayCommand::setAll(number);
    }
    if (verb == QLatin1String("start")) {
        return RelayCommand::start(ports.value(row.command.at(1).toString()), fromNetwork);
    }
    return RelayCommand::stop();
}
