#include "pipe_channel.h"

#include "relay_command.h"

#include <QLocalSocket>
#include <QTimer>

namespace relais::pipe {

namespace {
constexpr int kMaxLine = 64;
constexpr int kPatienceMs = 5000;
} // namespace

QByteArray answerRequest(const QByteArray& line, RelayOperations& relays) {
    const QList<QByteArray> words = line.trimmed().split(' ');
    const auto systemPorts = [] { return SystemPortResolver::devicesInComOrder(); };
    if (words.size() == 3 && words[0] == "pulse") {
        const qint64 ms = words[2].toLongLong();
        const auto refusal = carryOut(
            relays,
            RelayCommand::pulse(words[1].toLongLong(), ms > 0 ? std::optional(ms) : std::nullopt),
            systemPorts, {ChangeSource::Kind::Pipe, {}});
        return refusal ? "error " + refusal->text.toUtf8() + '\n' : QByteArray("ok\n");
    }
    if (words.size() == 2 && words[0] == "schedules" &&
        (words[1] == "pause" || words[1] == "run")) {
        const auto refusal = carryOut(relays, RelayCommand::pauseSchedules(words[1] == "pause"),
                                      systemPorts, {ChangeSource::Kind::Pipe, {}});
        return refusal ? "error " + refusal->text.toUtf8() + '\n' : QByteArray("ok\n");
    }
    if (words.size() != 2 || words[0] != "relays") {
        return "error Unbekannte Anfrage\n";
    }
    bool ok = false;
    const qint64 mask = words[1].toLongLong(&ok);
    const QString given = QString::fromUtf8(words[1].left(16));
    const auto refusal = carryOut(relays, RelayCommand::setAll(ok ? mask : -1, given),
                                  [] { return SystemPortResolver::devicesInComOrder(); },
                                  {ChangeSource::Kind::Pipe, {}});
    return refusal ? "error " + refusal->text.toUtf8() + '\n' : QByteArray("ok\n");
}

PipeServer::PipeServer(RelayOperations& relays, QObject* parent)
    : QObject(parent), relays_(relays) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_.nextPendingConnection()) {
            serve(client);
        }
    });
}

bool PipeServer::listen() {
    // Windows lets a second server open more instances of a pipe that has
    // one already; the first window keeps the channel.
    QLocalSocket probe;
    probe.connectToServer(channelName());
    if (probe.waitForConnected(200)) {
        probe.abort();
        return false;
    }
    return server_.listen(channelName());
}

void PipeServer::serve(QLocalSocket* client) {
    // A client that says nothing, or too much, is let go: the window never
    // waits on a script.
    QTimer::singleShot(kPatienceMs, client, &QLocalSocket::abort);
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QLocalSocket::readyRead, client, [this, client] {
        if (!client->canReadLine()) {
            if (client->bytesAvailable() > kMaxLine) {
                client->abort();
            }
            return;
        }
        client->write(answerRequest(client->readLine(kMaxLine + 1), relays_));
        client->disconnectFromServer();
    });
}

SendResult askRunningWindow(const WindowRequest& request, QString& error) {
    QLocalSocket socket;
    socket.connectToServer(channelName());
    if (!socket.waitForConnected(kPatienceMs)) {
        return SendResult::NoWindow;
    }
    switch (request.kind) {
    case WindowRequest::Kind::Pulse:
        socket.write("pulse " + QByteArray::number(request.relay) + ' ' +
                     QByteArray::number(request.ms) + '\n');
        break;
    case WindowRequest::Kind::PauseSchedules:
        socket.write(request.mask != 0 ? "schedules pause\n" : "schedules run\n");
        break;
    case WindowRequest::Kind::Relays:
        socket.write("relays " + QByteArray::number(request.mask) + '\n');
        break;
    }
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(kPatienceMs)) {
        answer += socket.readAll();
    }
    answer = answer.trimmed();
    if (answer == "ok") {
        return SendResult::Done;
    }
    error = answer.startsWith("error ") ? QString::fromUtf8(answer.mid(6))
                                        : QStringLiteral("Das Fenster antwortet nicht.");
    return SendResult::Failed;
}

} // namespace relais::pipe
