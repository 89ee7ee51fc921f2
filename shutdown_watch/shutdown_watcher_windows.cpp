#include "shutdown_watcher.h"

#include "relays_thread.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include <windows.h>

namespace relais {

namespace {

std::atomic<ShutdownWatcher*> current{nullptr};
HWND sessionWindow = nullptr;

// The way to the main thread for the system's console thread; refused at
// once after the watcher has gone.
std::mutex handOffMutex;
std::shared_ptr<RelaysThread> handOff;

// Runs on a thread the system starts for the event. Ctrl+C and Ctrl+Break
// only ask; for the others the process is ended as soon as this returns,
// so it waits until the main thread has closed the port (the system allows
// about five seconds).
BOOL WINAPI onConsoleEvent(DWORD event) {
    std::shared_ptr<RelaysThread> thread;
    {
        std::lock_guard lock(handOffMutex);
        thread = handOff;
    }
    ShutdownWatcher* watcher = current.load();
    if (thread == nullptr || watcher == nullptr) {
        return FALSE;
    }
    const auto ask = [watcher] {
        emit watcher->requested();
        return true;
    };
    const bool ending =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (ending) {
        thread->call<bool>(ask, std::chrono::seconds(4));
    } else {
        thread->post(ask);
    }
    return TRUE;
}

// Every top-level window hears that the session ends, hidden ones too; a
// program without a window of its own (--hold) has this one. The port is
// closed before it returns, for the process may be ended right after.
LRESULT CALLBACK sessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) {
        return TRUE;
    }
    if (message == WM_ENDSESSION) {
        if (wParam != FALSE) {
            if (ShutdownWatcher* watcher = current.load()) {
                emit watcher->requested();
            }
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void createSessionWindow() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = sessionWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"RelaiskarteSessionEnd";
    RegisterClassW(&windowClass);
    sessionWindow = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                    nullptr, nullptr, instance, nullptr);
}

} // namespace

ShutdownWatcher::ShutdownWatcher(QObject* parent) : QObject(parent) {
    {
        std::lock_guard lock(handOffMutex);
        handOff = std::make_shared<RelaysThread>(this);
    }
    current.store(this);
    SetConsoleCtrlHandler(nullptr, FALSE); // Ctrl+C may come in ignored from a parent
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    if (sessionWindow == nullptr) {
        createSessionWindow();
    }
}

ShutdownWatcher::~ShutdownWatcher() {
    std::shared_ptr<RelaysThread> thread;
    {
        std::lock_guard lock(handOffMutex);
        thread = std::exchange(handOff, nullptr);
    }
    thread->end(); // a console event waiting now gives up at once
    current.store(nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

} // namespace relais
