// The TCP line under the device port: a client socket with keep-alive that
// connects within 3 seconds, sends with 1-second writability waits and
// receives without ever waiting.
#pragma once

#include <cstdint>

#include "platform/net.h"

class CZelSocket {
public:
    CZelSocket() = default;
    virtual ~CZelSocket();  // closes the socket if the handle is valid
    CZelSocket(const CZelSocket&) = delete;
    CZelSocket& operator=(const CZelSocket&) = delete;

    bool Valid() const { return handle != platform::kInvalidSocket; }
    platform::SocketHandle Handle() const { return handle; }

protected:
    platform::SocketHandle handle = platform::kInvalidSocket;
};

class CZelClientSocket : public CZelSocket {
public:
    CZelClientSocket();  // a new IPv4 stream socket with keep-alive

    // 0 connected; 2 refused or not connected within 3 s; -1 host not
    // resolved.
    int Connect(const char* host, uint16_t port);
    // Bytes sent (may be fewer than asked); -1 on a socket error or an
    // invalid handle.
    int Send(const void* data, int32_t length);
    // Bytes already waiting, up to size (0 when none); -1 on a socket error
    // or an invalid handle. Never waits beyond a 10 µs look.
    int Receive(void* buffer, int32_t size);
    // True as soon as input is waiting or the peer has closed the
    // connection, false after ms.
    bool WaitForInput(unsigned ms);
    // As WaitForInput, also ended by `wake`; `ms` may be kWaitForever.
    platform::WaitOutcome WaitForInputOrWake(unsigned ms, platform::WakeSignal* wake);
    // The peer closed the connection: seen by Receive or WaitForInput.
    bool PeerClosed() const { return peerClosed; }

private:
    void NotePeerClose();
    bool peerClosed = false;
};
