#include "panel_shared.h"

#include <future>

namespace relais::web {

using namespace std::chrono_literals;

std::string Shared::ownOrigin(const httplib::Request& req) const {
    return (tls ? "https://" : "http://") + req.get_header_value("Host");
}

bool Shared::foreignOrigin(const httplib::Request& req) const {
    const std::string origin = req.get_header_value("Origin");
    return !origin.empty() && origin != ownOrigin(req);
}

ApiReply Shared::onPanelThread(std::function<ApiReply(PanelApi&)> call) {
    auto promise = std::make_shared<std::promise<ApiReply>>();
    std::future<ApiReply> answer = promise->get_future();
    {
        std::lock_guard lock(contextMutex);
        if (context == nullptr) {
            return apiError(503, QStringLiteral("Das Programm endet gerade."));
        }
        QMetaObject::invokeMethod(
            context, [promise, call, api = api] { promise->set_value(call(*api)); },
            Qt::QueuedConnection);
    }
    while (answer.wait_for(50ms) != std::future_status::ready) {
        std::lock_guard lock(stateMutex);
        if (closing) {
            return apiError(503, QStringLiteral("Das Programm endet gerade."));
        }
    }
    try {
        return answer.get();
    } catch (const std::future_error&) {
        return apiError(503, QStringLiteral("Das Programm endet gerade."));
    }
}

void Shared::say(const QString& line) {
    std::lock_guard lock(contextMutex);
    if (context != nullptr) {
        QMetaObject::invokeMethod(
            context,
            [log = log, line] { *log << QStringLiteral("Web-Panel: ") << line << Qt::endl; },
            Qt::QueuedConnection);
    }
}

} // namespace relais::web
