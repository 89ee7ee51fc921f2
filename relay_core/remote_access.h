#pragma once

namespace relais {

// A way in that runs beside the relays while the program runs: the broker
// bridge, the web panel. It lives in a module loaded only when asked for.
class RemoteAccess {
public:
    virtual ~RemoteAccess() = default;
    // The program is ending: tell the far side, waiting at most `ms`.
    virtual void leave(int ms) = 0;
};

} // namespace relais
