#pragma once

#include "relay_operations.h"
#include "window_request.h"

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace relais::pipe {

// The running window, reached by scripts of the same user through a named
// pipe: one request line "relays N", one answer line "ok" or "error TEXT".
// The pipe's name carries the user's SID and its access list admits that
// user alone, so another user's window is not reachable.

// This user's pipe name.
QString channelName();

class PipeServer : public QObject {
    Q_OBJECT

public:
    PipeServer(RelayOperations& relays, QObject* parent = nullptr);
    // False when another window of this user already listens: that one
    // keeps the scripts, as the first window keeps the bus name on Linux.
    bool listen();

private:
    void serve(QLocalSocket* client);
    RelayOperations& relays_;
    QLocalServer server_;
};

// What a request to the running window came to.
enum class SendResult { Done, NoWindow, Failed };
SendResult askRunningWindow(const WindowRequest& request, QString& error);

// The answer to one request line; the whole protocol, apart from the pipe.
QByteArray answerRequest(const QByteArray& line, RelayOperations& relays);

} // namespace relais::pipe
