#pragma once

namespace relais {

class RelayWindow;

// Offers the window to scripts where the system has a way for it (the
// session bus); elsewhere nothing.
void offerWindowToScripts(RelayWindow& window);

} // namespace relais
