#pragma once

#include "panel_shared.h"

namespace relais::web {

// The password from the form in the body; never from the query string,
// which ends up in logs and histories.
QByteArray formPassword(const httplib::Request& req);

// Checks a password under the throttle; the status to answer, 204 when right.
int checkPassword(Shared& shared, const QString& client, const QByteArray& stored,
                  const QByteArray& password, httplib::Response& res);

} // namespace relais::web
