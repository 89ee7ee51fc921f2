#include "secret_input.h"

#include <cstdio>

#include <termios.h>
#include <unistd.h>

namespace relais::web {

bool inputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

std::optional<QByteArray> readSecretLine(const QString& prompt) {
    const bool terminal = inputIsTerminal();
    termios saved{};
    if (terminal) {
        fputs(prompt.toLocal8Bit().constData(), stderr);
        fflush(stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const auto line = readInputLine();
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        fputs("\n", stderr);
    }
    return line;
}

} // namespace relais::web
