#include "console.h"

#include <QIODevice>
#include <QStringDecoder>

#include <cstdio>

#include <io.h>
#include <windows.h>

namespace relais {

namespace {

bool usable(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// One of the standard streams: UTF-16 through WriteConsoleW while it is a
// console (WriteFile would hand our UTF-8 to the console's code page, 850 on
// a German Windows), its bytes unchanged otherwise.
class ConsoleDevice : public QIODevice {
public:
    explicit ConsoleDevice(FILE* file) : file_(file) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        const auto handle = HANDLE(_get_osfhandle(_fileno(file_)));
        DWORD mode = 0;
        if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
            const size_t written = std::fwrite(data, 1, size_t(size), file_);
            std::fflush(file_);
            return qint64(written);
        }
        const QString text = utf8_.decode(QByteArrayView(data, size)); // keeps split letters
        auto* next = reinterpret_cast<const wchar_t*>(text.utf16());
        for (DWORD left = DWORD(text.size()); left > 0;) {
            DWORD written = 0;
            if (!WriteConsoleW(handle, next, left, &written, nullptr) || written == 0) {
                break;
            }
            next += written;
            left -= written;
        }
        return size;
    }

private:
    FILE* file_;
    QStringDecoder utf8_{QStringDecoder::Utf8};
};

} // namespace

QTextStream& consoleOut() {
    static ConsoleDevice device(stdout);
    static QTextStream out(&device);
    return out;
}

QTextStream& consoleErr() {
    static ConsoleDevice device(stderr);
    static QTextStream err(&device);
    return err;
}

// A GUI program gets no console, so cmd.exe or PowerShell would show none
// of its lines. It joins the caller's console, which also brings Ctrl+C;
// output already led elsewhere (a file, a pipe, relaiskarte.com's console)
// stays where it goes.
void joinCallersConsole() {
    const bool outUsable = usable(STD_OUTPUT_HANDLE);
    const bool errUsable = usable(STD_ERROR_HANDLE);
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
        return; // started from Explorer or the Start menu: no console, none wanted
    }
    if (!outUsable) {
        std::freopen("CONOUT$", "w", stdout);
    }
    if (!errUsable) {
        std::freopen("CONOUT$", "w", stderr);
    }
}

} // namespace relais
