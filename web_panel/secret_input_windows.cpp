#include "secret_input.h"

#include <string>

#include <windows.h>

namespace relais::web {

bool inputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

std::optional<QByteArray> readSecretLine(const QString& prompt) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode)) {
        // A console: the prompt, then the line typed without echo, as UTF-16.
        const std::wstring shown = prompt.toStdWString();
        DWORD written = 0;
        WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), shown.c_str(), DWORD(shown.size()), &written,
                      nullptr);
        SetConsoleMode(input, (mode & ~DWORD(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
        std::wstring line;
        wchar_t c = 0;
        DWORD read = 0;
        bool any = false;
        while (ReadConsoleW(input, &c, 1, &read, nullptr) && read == 1) {
            any = true;
            if (c == L'\n') {
                break;
            }
            if (c != L'\r') {
                line.push_back(c);
            }
        }
        SetConsoleMode(input, mode);
        WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), L"\r\n", 2, &written, nullptr);
        if (!any) {
            return std::nullopt;
        }
        return QString::fromStdWString(line).toUtf8();
    }
    return readInputLine(); // a pipe or a file: UTF-8
}

} // namespace relais::web
