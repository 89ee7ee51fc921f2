#pragma once

// A pseudo-terminal standing in for the relay unit at the far end of the line.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>

#include <algorithm>
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
            ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
            ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        }
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0; }
    const QString& path() const { return path_; }

    // The far end goes away (an unplugged adapter).
    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    // The line settings of the near end, as the driver holds them.
    termios attributes() const {
        termios t{};
        ::tcgetattr(master_, &t);
        return t;
    }

    // Whatever has arrived so far, without waiting.
    QByteArray readAvailable() {
        QByteArray out;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            out.append(buf, n);
        }
        return out;
    }

    // Reads exactly `count` bytes, running the event loop so that
    // queued writes get out; gives up after `ms` (a safety net, not a check).
    QByteArray readExactly(qsizetype count, int ms = 5000) {
        QByteArray out;
        QDeadlineTimer deadline(ms);
        while (out.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                // No more than asked for: what follows is the next reader's.
                char buf[4096];
                const ssize_t n =
                    ::read(master_, buf, size_t(std::min<qsizetype>(count - out.size(), 4096)));
                if (n > 0) {
                    out.append(buf, n);
                }
            }
        }
        return out;
    }

private:
    int master_ = -1;
    QString path_;
};
