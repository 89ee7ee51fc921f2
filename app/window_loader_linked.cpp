// The window linked into the program: one file to copy, no module to find.

#include "window_loader.h"

namespace relais {

RunWindowFunction loadWindow(QString&) {
    return &relaiskarteRunWindow;
}

} // namespace relais
