#pragma once

#include "panel_shared.h"

namespace relais::web {

// The page, the login and the API on `server`, with the checks every
// request passes first.
void configurePanel(Shared& shared, httplib::Server& server);

} // namespace relais::web
