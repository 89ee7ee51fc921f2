#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace relais::web {

// A client's connection as the server's threads handle it: non-blocking,
// every wait bounded, so that no client can hold a thread longer than its
// deadline allows.
using SocketHandle = std::uintptr_t;

enum class SocketWait { Ready, TimedOut, Failed };

void makeNonBlocking(SocketHandle socket);
// Waits up to `ms` until the socket can be read (or written).
SocketWait waitForSocket(SocketHandle socket, bool forWriting, int ms);
// Bytes read or written; 0 at the peer's end of reading; -1 when it would
// block; -2 on an error.
long receiveSome(SocketHandle socket, char* buffer, std::size_t size);
long sendSome(SocketHandle socket, const char* data, std::size_t size);
// Whether the peer has closed or reset the connection, without waiting and
// without taking anything it sent.
bool peerHasLeft(SocketHandle socket);
// The numeric address and port of the peer (or of this end).
std::string socketAddress(SocketHandle socket, bool peer, int& port);
// Ends the connection both ways; the handle stays valid until closed.
void shutdownSocket(SocketHandle socket);
void closeSocket(SocketHandle socket);

} // namespace relais::web
