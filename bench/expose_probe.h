#pragma once

// Prints the monotonic clock (ns) when a window is first shown on screen and
// the process's peak resident memory (KiB) by then, then quits: the end mark
// of a start-up measurement. (A parent's rusage would count its own memory
// in, since a child starts as a copy of it.) With RELAIS_PROBE_STAY set the
// window stays, for memory measured over a run.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <ctime>

inline long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

class ExposeProbe : public QObject {
public:
    explicit ExposeProbe(QWidget& w) {
        w.winId(); // create the native window so that its expose event can be seen
        w.windowHandle()->installEventFilter(this);
    }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Expose && !done_ && static_cast<QWindow*>(o)->isExposed()) {
            done_ = true;
            long peakKb = 0;
            if (FILE* f = std::fopen("/proc/self/status", "r")) {
                char line[256];
                while (std::fgets(line, sizeof line, f)) {
                    std::sscanf(line, "VmHWM: %ld", &peakKb);
                }
                std::fclose(f);
            }
            std::printf("shown %lld %ld\n", monotonicNs(), peakKb);
            std::fflush(stdout);
            if (!qEnvironmentVariableIsSet("RELAIS_PROBE_STAY")) {
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            }
        }
        return false;
    }

private:
    bool done_ = false;
};
