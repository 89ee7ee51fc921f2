#pragma once

// A pseudo-terminal standing in for the relay unit at the far end of the line.

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

class Pty {
public:
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
            path_ = QString::fromLocal8Bit(name);
            ::close(slave);
            ::fcntl(master_, F_SETFL, O_NONBLOCK);
            ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        }
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const QString& path() const { return path_; }
    // The far end goes away (an unplugged adapter).
    void closeMaster() {
        if (master_ >= 0) {
            ::close(std::exchange(master_, -1));
        }
    }
    // The line settings of the near end, as the driver holds them.
    termios attributes() const {
        termios t{};
        ::tcgetattr(master_, &t);
        return t;
    }
    // Whatever has arrived so far, without waiting.
    QByteArray readAvailable() { return readExactly(1 << 30, 0); }

    // Reads up to `count` bytes (no more: what follows is the next reader's),
    // running the event loop so that queued writes get out; gives up after
    // `ms` (a safety net, not a check).
    QByteArray readExactly(qsizetype count, int ms = 5000) {
        QByteArray out;
        QDeadlineTimer deadline(ms);
        while (out.size() < count) {
            QCoreApplication::processEvents();
            pollfd p{master_, POLLIN, 0};
            char buf[4096];
            const qsizetype want = std::min<qsizetype>(count - out.size(), sizeof buf);
            const auto n = ::poll(&p, 1, ms ? 10 : 0) > 0 ? ::read(master_, buf, size_t(want)) : 0;
            if (n > 0) {
                out.append(buf, n);
            } else if (ms == 0 || deadline.hasExpired()) {
                break;
            }
        }
        return out;
    }

private:
    int master_ = -1;
    QString path_;
};
