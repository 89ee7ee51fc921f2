#include "console.h"

namespace relais {

void joinCallersConsole() {}

QTextStream& consoleOut() {
    static QTextStream out(stdout);
    return out;
}

QTextStream& consoleErr() {
    static QTextStream err(stderr);
    return err;
}

} // namespace relais
