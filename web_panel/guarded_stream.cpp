#include "guarded_stream.h"

#include <algorithm>
#include <cstring>

namespace relais::web {

namespace {
thread_local GuardedStream* tCurrent = nullptr;

int msUntil(GuardedStream::Clock::time_point until) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - GuardedStream::Clock::now());
    return int(std::clamp<long long>(left.count(), 0, 60000));
}
} // namespace

GuardedStream::GuardedStream(SocketHandle socket, SSL* tls, RequestLimits limits)
    : socket_(socket), tls_(tls), limits_(limits) {}

GuardedStream* GuardedStream::current() {
    return tCurrent;
}

void GuardedStream::makeCurrent(bool on) {
    tCurrent = on ? this : nullptr;
}

bool GuardedStream::awaitRequest(std::chrono::milliseconds wait) {
    phase_ = Phase::Waiting;
    taken_ = 0;
    lines_ = 0;
    if (begin_ == end_ && pull(Clock::now() + wait) <= 0) {
        return false;
    }
    phase_ = Phase::Head;
    deadline_ = Clock::now() + limits_.requestTime;
    return true;
}

void GuardedStream::startBody() {
    phase_ = Phase::Body;
    taken_ = 0;
}

bool GuardedStream::waitUntil(bool forWriting, Clock::time_point until) const {
    for (;;) {
        const int ms = msUntil(until);
        const SocketWait result = waitForSocket(socket_, forWriting, ms);
        if (result == SocketWait::Ready) {
            return true;
        }
        if (result == SocketWait::Failed || ms == 0) {
            return false;
        }
    }
}

long GuardedStream::pullOnce() {
    char* into = buffer_.data() + end_;
    const std::size_t room = buffer_.size() - end_;
    if (tls_ == nullptr) {
        return receiveSome(socket_, into, room);
    }
    ERR_clear_error();
    const int got = SSL_read(tls_, into, int(room));
    if (got > 0) {
        return got;
    }
    switch (SSL_get_error(tls_, got)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return -1;
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    default:
        return -2;
    }
}

long GuardedStream::pull(Clock::time_point until) {
    if (begin_ == end_) {
        begin_ = end_ = 0;
    }
    if (ended_ || end_ == buffer_.size()) {
        return ended_ ? 0 : -1;
    }
    for (;;) {
        const long got = pullOnce();
        if (got > 0) {
            end_ += std::size_t(got);
            return got;
        }
        if (got == 0 || got == -2) {
            ended_ = true;
            return got;
        }
        const bool wantsWrite = tls_ != nullptr && SSL_want_write(tls_);
        if (!waitUntil(wantsWrite, until)) {
            return -1;
        }
    }
}

ssize_t GuardedStream::refuseMore() {
    (phase_ == Phase::Body ? bodyOver_ : headOver_) = true;
    mustClose_ = true;
    return 0; // the parser sees the data end here and answers with an error
}

ssize_t GuardedStream::read(char* ptr, size_t size) {
    if (phase_ == Phase::Waiting) {
        return -1;
    }
    const std::size_t limit = phase_ == Phase::Head ? limits_.headBytes : limits_.bodyBytes;
    if (headOver_ || bodyOver_ || taken_ >= limit) {
        return refuseMore();
    }
    if (begin_ == end_) {
        const long got = pull(deadline_);
        if (got <= 0) {
            mustClose_ = true;
            return got == 0 ? 0 : -1;
        }
    }
    std::size_t count = std::min({size, end_ - begin_, limit - taken_});
    if (phase_ == Phase::Head) {
        const char* from = buffer_.data() + begin_;
        for (std::size_t i = 0; i < count; ++i) {
            if (from[i] == '\n' && ++lines_ > limits_.headLines) {
                count = i;
                break;
            }
        }
        if (count == 0) {
            return refuseMore();
        }
    }
    std::memcpy(ptr, buffer_.data() + begin_, count);
    begin_ += count;
    taken_ += count;
    return ssize_t(count);
}

ssize_t GuardedStream::write(const char* ptr, size_t size) {
    const Clock::time_point until = Clock::now() + limits_.writeTime;
    std::size_t sent = 0;
    while (sent < size) {
        long done = 0;
        bool wantsRead = false;
        if (tls_ == nullptr) {
            done = sendSome(socket_, ptr + sent, size - sent);
        } else {
            ERR_clear_error();
            const int put = SSL_write(tls_, ptr + sent, int(size - sent));
            const int error = put > 0 ? SSL_ERROR_NONE : SSL_get_error(tls_, put);
            wantsRead = error == SSL_ERROR_WANT_READ;
            done = put > 0 ? put : (wantsRead || error == SSL_ERROR_WANT_WRITE ? -1 : -2);
        }
        if (done > 0) {
            sent += std::size_t(done);
        } else if (done == -2 || !waitUntil(!wantsRead, until)) {
            mustClose_ = true;
            return -1;
        }
    }
    return ssize_t(size);
}

bool GuardedStream::clientLeft() {
    if (ended_) {
        return true;
    }
    if (waitForSocket(socket_, false, 0) != SocketWait::Ready) {
        return false;
    }
    if (end_ == buffer_.size()) {
        return tls_ == nullptr && peerHasLeft(socket_);
    }
    return pull(Clock::now()) != -1 && ended_;
}

bool GuardedStream::is_readable() const {
    return begin_ != end_ || (tls_ != nullptr && SSL_pending(tls_) > 0) ||
           waitForSocket(socket_, false, 0) == SocketWait::Ready;
}

bool GuardedStream::is_writable() const {
    // Asked before each piece of a streamed answer: a client that has gone
    // frees its place at once.
    return !const_cast<GuardedStream*>(this)->clientLeft();
}

void GuardedStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    ip = socketAddress(socket_, true, port);
}

void GuardedStream::get_local_ip_and_port(std::string& ip, int& port) const {
    ip = socketAddress(socket_, false, port);
}

} // namespace relais::web
