#include "window_remote.h"

#include "pipe_channel.h"
#include "relay_window.h"

namespace relais {

void offerWindowToScripts(RelayWindow& window) {
    auto* server = new pipe::PipeServer(window, &window); // owned by the window
    server->listen();
}

} // namespace relais
