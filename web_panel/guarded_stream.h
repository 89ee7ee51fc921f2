#pragma once

#include "client_socket.h"

#include <httplib.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <array>
#include <chrono>

namespace relais::web {

// What one request may cost before it is refused, counted while it is read.
struct RequestLimits {
    std::size_t headBytes = 8192 + 512; // request line and header lines together
    int headLines = 100;
    std::size_t bodyBytes = 8192;                 // as sent, chunk framing included
    std::chrono::milliseconds requestTime{10000}; // from the request's first byte
    std::chrono::milliseconds writeTime{10000};   // for each piece of an answer
};

// A client's connection as the HTTP parser reads it: it hands out at most
// the bytes the limits allow (then it reports the end of the data, so the
// parser stops with an error status), waits no longer than the request's
// deadline, and speaks TLS where `tls` is given.
class GuardedStream : public httplib::Stream {
public:
    using Clock = std::chrono::steady_clock;
    GuardedStream(SocketHandle socket, SSL* tls, RequestLimits limits);

    // The stream that this thread serves now, if any.
    static GuardedStream* current();
    void makeCurrent(bool on);

    // Waits up to `wait` for the next request's first byte; its deadline
    // starts there.
    bool awaitRequest(std::chrono::milliseconds wait);
    // The head is read: from here on the body's limit counts.
    void startBody();
    // A limit was hit or the reply said so: the connection ends after it.
    bool mustClose() const { return mustClose_; }
    void closeAfterReply() { mustClose_ = true; }
    bool headTooLarge() const { return headOver_; }
    bool bodyTooLarge() const { return bodyOver_; }
    // Whether the client has gone; takes in what it sent meanwhile.
    bool clientLeft();

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return socket_t(socket_); }

private:
    enum class Phase { Waiting, Head, Body };
    // Reads what has come into the buffer, waiting until `until`: bytes
    // read, 0 at the client's end, -1 when the time is up, -2 on an error.
    long pull(Clock::time_point until);
    long pullOnce();
    bool waitUntil(bool forWriting, Clock::time_point until) const;
    ssize_t refuseMore();

    SocketHandle socket_;
    SSL* tls_;
    RequestLimits limits_;
    Phase phase_ = Phase::Waiting;
    Clock::time_point deadline_;
    std::size_t taken_ = 0;
    int lines_ = 0;
    bool mustClose_ = false;
    bool headOver_ = false;
    bool bodyOver_ = false;
    bool ended_ = false;
    std::array<char, 4096> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

} // namespace relais::web
