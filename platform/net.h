// IPv4 TCP client sockets (and a minimal listener for tests and tools):
// Windows Sockets 2 on Windows, BSD sockets elsewhere. No call here ever
// raises SIGPIPE in the host process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wait.h"

namespace platform {

// The native socket handle; all bits set when invalid (INVALID_SOCKET).
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);

// Windows Sockets 2.2 start-up and clean-up, once per process; nothing to
// do elsewhere.
bool NetStartup();
void NetCleanup();

// A new IPv4 stream socket, or kInvalidSocket.
SocketHandle TcpSocket();
// TCP keep-alive: on, about 2 s idle before the first probe and a short
// probe interval. Failures are ignored.
void SetKeepAlive(SocketHandle s);
void SetNonBlocking(SocketHandle s, bool on);

// Host as dotted IPv4 text, else resolved by name (first IPv4 address).
// The address is in network byte order. False when nothing resolves.
bool ResolveIPv4(const char* host, uint32_t* address);

// Starts a connect with the socket in non-blocking mode. 0 connected at
// once, 1 in progress, -1 failed at once.
int StartConnect(SocketHandle s, uint32_t address, uint16_t port);
// Waits up to timeoutUs for a started connect to finish; true when the
// socket is connected (writable with no pending error).
bool WaitConnected(SocketHandle s, long timeoutUs);

// Readiness waits: 1 ready, 0 time-out, -1 failure.
int WaitWritable(SocketHandle s, long timeoutUs);
int WaitReadable(SocketHandle s, long timeoutUs);
// Input (or the peer's close) on the socket, or `wake`; `ms` may be
// kWaitForever. On Windows the socket is non-blocking afterwards (sends and
// receives here handle either mode).
WaitOutcome WaitReadableOrWake(SocketHandle s, unsigned ms, WakeSignal* wake);

// Bytes sent / received; -1 on a socket error. Send returns 0 when the
// send buffer is full; Receive returns 0 when the peer closed the
// connection.
long SocketSend(SocketHandle s, const void* data, size_t size);
long SocketReceive(SocketHandle s, void* buffer, size_t size);

// Looks at waiting bytes without taking them: as SocketReceive.
long SocketPeek(SocketHandle s, void* buffer, size_t size);

// Sends `size` bytes as TCP urgent (out-of-band) data; as SocketSend. For
// tests of a peer that sends urgent data.
long SocketSendUrgent(SocketHandle s, const void* data, size_t size);

void CloseSocket(SocketHandle s);

// Listener on 127.0.0.1 (port 0 picks a free one); kInvalidSocket on
// failure. *boundPort receives the port in host byte order.
SocketHandle ListenLoopback(uint16_t port, uint16_t* boundPort);
// Accepts one connection within timeoutMs; kInvalidSocket on time-out.
SocketHandle AcceptWithin(SocketHandle listener, unsigned timeoutMs);

}  // namespace platform
