#include "secret_input.h"

#include <cstdio>
#include <string>

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
    std::string line;
    bool any = false;
    for (int c; (c = fgetc(stdin)) != EOF;) {
        any = true;
        if (c == '\n') {
            break;
        }
        line.push_back(char(c));
    }
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        fputs("\n", stderr);
    }
    if (!any) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return QByteArray::fromStdString(line);
}

} // namespace relais::web
