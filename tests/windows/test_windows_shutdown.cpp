// The end of a Windows session reaches the program in time: the hidden
// window hears WM_ENDSESSION and `requested` has run (the port is closed)
// before the message returns, after which Windows may end the process.

#include "shutdown_watcher.h"

#include <QTest>

#include <windows.h>

using namespace relais;

class WindowsShutdownTest : public QObject {
    Q_OBJECT

private slots:
    void sessionEnd_data() {
        QTest::addColumn<bool>("ending");
        QTest::newRow("the session ends") << true;
        QTest::newRow("the end was cancelled") << false;
    }
    void sessionEnd() {
        QFETCH(bool, ending);
        ShutdownWatcher watcher;
        int requests = 0;
        connect(&watcher, &ShutdownWatcher::requested, this, [&] { ++requests; });
        const HWND window = FindWindowW(L"RelaiskarteSessionEnd", nullptr);
        QVERIFY(window != nullptr);
        // Asked first whether the session may end: the program never objects.
        QCOMPARE(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), LRESULT(TRUE));
        QCOMPARE(requests, 0);
        SendMessageW(window, WM_ENDSESSION, ending ? TRUE : FALSE, 0);
        QCOMPARE(requests, ending ? 1 : 0); // done before SendMessage returned
    }

    // Once the watcher is gone, a late session end reaches nobody.
    void noWatcherNoCall() {
        { ShutdownWatcher watcher; }
        const HWND window = FindWindowW(L"RelaiskarteSessionEnd", nullptr);
        QVERIFY(window != nullptr);
        SendMessageW(window, WM_ENDSESSION, TRUE, 0);
    }
};

QTEST_GUILESS_MAIN(WindowsShutdownTest)
#include "test_windows_shutdown.moc"
