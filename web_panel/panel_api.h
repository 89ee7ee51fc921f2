#pragma once

#include "port_resolver.h"
#include "relay_command.h"
#include "relay_operations.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace relais::web {

// One call of the JSON API, as the server hands it over.
struct ApiRequest {
    QByteArray method;
    QString path;
    QByteArray body;
    QString caller{}; // the session or token, as a record names it
};

struct ApiReply {
    int status = 200;
    QByteArray body;  // JSON
    QByteArray allow; // for 405: the methods the path takes
};

// The API's answer with a German error text.
ApiReply apiError(int status, const QString& text, const QString& detail = {});

// The JSON API over the relays, on the thread that owns them: every change
// acts as the matching click, and answers with the new state.
class PanelApi {
public:
    // `ports` tells the devices behind COM 1 to COM 8 (in COM order), at
    // once: it is asked on the relays' thread.
    using PortTable = std::function<QStringList()>;
    PanelApi(RelayOperations& relays, PortTable ports);

    ApiReply handle(const ApiRequest& request);
    // What the API serves: a method, a path ({n}: a relay's number) and what
    // answers it; the OpenAPI document describes exactly these.
    struct Route {
        QByteArray method;
        QString path;
        std::function<ApiReply(PanelApi&, int relay, const ApiRequest& request)> run;
    };
    static const std::vector<Route>& routes();
    // {"relays":[...],"mask":N,"link":"running"|"stopped","port":...,"revision":N}
    QByteArray stateJson(const RelayState& state) const;
    // Who switched what: the last 200 changes and refusals, oldest first.
    void record(const RelayChange& change);
    void record(const Refusal& refusal, const ChangeSource& source);
    static constexpr int kLogEntries = 200;
    static constexpr int kScheduleDays = 7; // GET /api/schedule: the coming week
    // [{"name":"COM 1","device":...,"present":...}, ...] for the devices
    // behind COM 1 to COM 8.
    static QByteArray portsJson(const QStringList& devices);

private:
    // A command for the core, or the refusal it already is.
    ApiReply run(const RelayCommand::Made& made, const QString& caller);
    ApiReply setRelay(int relay, const ApiRequest& request);
    ApiReply setMask(const ApiRequest& request);
    ApiReply pulse(int relay, const ApiRequest& request);
    ApiReply pauseSchedules(const ApiRequest& request);
    ApiReply startLink(const ApiRequest& request);
    ApiReply state() const;

    RelayOperations& relays_;
    PortTable ports_;
    QList<QJsonObject> log_;
    void addToLog(QJsonObject entry);
};

} // namespace relais::web
