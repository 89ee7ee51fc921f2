#include "panel_shared.h"

namespace relais::web {

std::string Shared::ownOrigin(const httplib::Request& req) const {
    return (tls ? "https://" : "http://") + req.get_header_value("Host");
}

bool Shared::foreignOrigin(const httplib::Request& req) const {
    const std::string origin = req.get_header_value("Origin");
    return !origin.empty() && origin != ownOrigin(req);
}

ApiReply Shared::onPanelThread(std::function<ApiReply(PanelApi&)> call) {
    // The relays' thread never keeps a caller long; the patience is for a
    // program that hangs, which then answers 503 rather than hold a thread.
    const auto reply = relaysThread->call<ApiReply>([call, api = api] { return call(*api); },
                                                    std::chrono::seconds(30));
    return reply ? *reply : apiError(503, QStringLiteral("Das Programm endet gerade."));
}

void Shared::say(const QString& line) {
    relaysThread->post(
        [log = log, line] { *log << QStringLiteral("Web-Panel: ") << line << Qt::endl; });
}

} // namespace relais::web
