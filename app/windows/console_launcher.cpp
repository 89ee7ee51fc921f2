// relaiskarte.com, the console twin of relaiskarte.exe. cmd.exe and
// PowerShell take it first when "relaiskarte" is typed (.COM comes before
// .EXE). It runs relaiskarte.exe from beside it in this console, waits, and
// hands on its exit code, so the command line behaves as a console program
// should: output in place, the prompt back only at the end, Ctrl+C heard.
// relaiskarte.exe itself stays a GUI program, so a start from Explorer or
// the Start menu opens no console.

#include <string>

#include <windows.h>

namespace {

// Ctrl+C reaches relaiskarte.exe as well, which closes its port and ends;
// this one only waits for that.
BOOL WINAPI waitForProgram(DWORD) {
    return TRUE;
}

std::wstring ownPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The arguments as given, without the program's own name.
const wchar_t* argumentsOf(const wchar_t* line) {
    bool quoted = false;
    for (; *line != L'\0'; ++line) {
        if (*line == L'"') {
            quoted = !quoted;
        } else if (!quoted && (*line == L' ' || *line == L'\t')) {
            break;
        }
    }
    return line;
}

// A line on standard error: UTF-16 to a console, UTF-8 to a file or pipe,
// as relaiskarte.exe writes its own.
void sayOnError(const std::wstring& line) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(err, &mode)) {
        WriteConsoleW(err, line.c_str(), DWORD(line.size()), &written, nullptr);
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), utf8.data(), size, nullptr,
                        nullptr);
    WriteFile(err, utf8.data(), DWORD(utf8.size()), &written, nullptr);
}

} // namespace

int wmain() {
    std::wstring program = ownPath();
    const auto dot = program.find_last_of(L'.');
    program = program.substr(0, dot) + L".exe";
    std::wstring commandLine = L"\"" + program + L"\"" + argumentsOf(GetCommandLineW());

    SetConsoleCtrlHandler(waitForProgram, TRUE);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
        sayOnError(program + L" kann nicht gestartet werden (Fehler " +
                   std::to_wstring(GetLastError()) + L")\n");
        return 2;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return int(code);
}
