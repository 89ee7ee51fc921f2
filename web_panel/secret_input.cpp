#include "secret_input.h"

#include <cstdio>
#include <string>

namespace relais::web {

std::optional<QByteArray> readInputLine() {
    std::string line;
    bool any = false;
    for (int c; (c = fgetc(stdin)) != EOF;) {
        any = true;
        if (c == '\n') {
            break;
        }
        line.push_back(char(c));
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
