#include <winsock2.h>
#include <windows.h>
#include <mstcpip.h>

#include "platform/net.h"

#include <cstring>

namespace platform {

namespace {

static_assert(sizeof(SocketHandle) == sizeof(SOCKET), "socket handle size");

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

int Select(SocketHandle s, bool write, long timeoutUs) {
    if (s == kInvalidSocket) return -1;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Sock(s), &set);
    // Exceptions matter to the write wait only, where a failed connect shows
    // as one. In a read wait the only exception is urgent data, which recv
    // never takes: it would fail every wait at once for the rest of the
    // connection.
    fd_set except;
    FD_ZERO(&except);
    FD_SET(Sock(s), &except);
    timeval tv;
    tv.tv_sec = timeoutUs / 1000000;
    tv.tv_usec = timeoutUs % 1000000;
    int r = select(0, write ? nullptr : &set, write ? &set : nullptr, write ? &except : nullptr, &tv);
    if (r == SOCKET_ERROR) return -1;
    if (r == 0) return 0;
    return FD_ISSET(Sock(s), &set) ? 1 : -1;
}

}  // namespace

bool NetStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void NetCleanup() { WSACleanup(); }

SocketHandle TcpSocket() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    // Not inherited by processes the host starts.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SocketHandle>(s);
}

void SetKeepAlive(SocketHandle s) {
    if (s == kInvalidSocket) return;
    tcp_keepalive values;
    values.onoff = 1;
    values.keepalivetime = 2000;
    values.keepaliveinterval = 300;
    DWORD returned = 0;
    WSAIoctl(Sock(s), SIO_KEEPALIVE_VALS, &values, sizeof(values), nullptr, 0, &returned, nullptr, nullptr);
}

void SetNonBlocking(SocketHandle s, bool on) {
    if (s == kInvalidSocket) return;
    u_long mode = on ? 1 : 0;
    ioctlsocket(Sock(s), FIONBIO, &mode);
}

bool ResolveIPv4(const char* host, uint32_t* address) {
    if (!host || !address) return false;
    unsigned long dotted = inet_addr(host);
    if (dotted != INADDR_NONE) {
        *address = static_cast<uint32_t>(dotted);
        return true;
    }
    // gethostbyname keeps its result per thread on Windows.
    hostent* he = gethostbyname(host);
    if (!he || he->h_addrtype != AF_INET || he->h_length != 4 || !he->h_addr_list || !he->h_addr_list[0])
        return false;
    std::memcpy(address, he->h_addr_list[0], 4);
    return true;
}

int StartConnect(SocketHandle s, uint32_t address, uint16_t port) {
    if (s == kInvalidSocket) return -1;
    SetNonBlocking(s, true);
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = address;
    if (connect(Sock(s), reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0) return 0;
    int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEALREADY ? 1 : -1;
}

bool WaitConnected(SocketHandle s, long timeoutUs) {
    if (Select(s, true, timeoutUs) != 1) return false;
    int error = 0;
    int len = sizeof(error);
    if (getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) return false;
    return error == 0;
}

int WaitWritable(SocketHandle s, long timeoutUs) { return Select(s, true, timeoutUs); }
int WaitReadable(SocketHandle s, long timeoutUs) { return Select(s, false, timeoutUs); }

WaitOutcome WaitReadableOrWake(SocketHandle s, unsigned ms, WakeSignal* wake) {
    if (s == kInvalidSocket) return WaitForWake(wake, ms);
    if (Select(s, false, 0) != 0) return WaitOutcome::kInput;  // waiting bytes, a close or an error
    WSAEVENT ready = WSACreateEvent();
    if (ready == WSA_INVALID_EVENT) {
        // No event to wait on: look every 50 ms.
        const unsigned step = ms < 50 ? ms : 50;
        const WaitOutcome w = WaitForWake(wake, step);
        if (w == WaitOutcome::kWoken) return w;
        return Select(s, false, 0) != 0 ? WaitOutcome::kInput : WaitOutcome::kTimeout;
    }
    // Bytes already waiting when the selection is made signal at once.
    WaitOutcome outcome = WaitOutcome::kInput;
    if (WSAEventSelect(Sock(s), ready, FD_READ | FD_CLOSE) == 0) {
        HANDLE handles[2] = {ready, wake && wake->Usable() ? reinterpret_cast<HANDLE>(wake->Native()) : nullptr};
        DWORD r = WaitForMultipleObjects(handles[1] ? 2 : 1, handles, FALSE, ms == kWaitForever ? INFINITE : ms);
        outcome = r == WAIT_OBJECT_0 ? WaitOutcome::kInput
                  : r == WAIT_OBJECT_0 + 1 ? WaitOutcome::kWoken
                                           : WaitOutcome::kTimeout;
        WSAEventSelect(Sock(s), nullptr, 0);
    }
    WSACloseEvent(ready);
    return outcome;
}

long SocketSend(SocketHandle s, const void* data, size_t size) {
    if (s == kInvalidSocket) return -1;
    int n = send(Sock(s), static_cast<const char*>(data), size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size), 0);
    if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    return n;
}

long SocketReceive(SocketHandle s, void* buffer, size_t size) {
    if (s == kInvalidSocket) return -1;
    int n = recv(Sock(s), static_cast<char*>(buffer), size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size), 0);
    if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    return n;
}

long SocketPeek(SocketHandle s, void* buffer, size_t size) {
    if (s == kInvalidSocket) return -1;
    int n = recv(Sock(s), static_cast<char*>(buffer), size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size), MSG_PEEK);
    if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    return n;
}

long SocketSendUrgent(SocketHandle s, const void* data, size_t size) {
    if (s == kInvalidSocket) return -1;
    int n = send(Sock(s), static_cast<const char*>(data), size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size), MSG_OOB);
    return n == SOCKET_ERROR ? -1 : n;
}

void CloseSocket(SocketHandle s) {
    if (s != kInvalidSocket) closesocket(Sock(s));
}

SocketHandle ListenLoopback(uint16_t port, uint16_t* boundPort) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof(sin);
    if (bind(s, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0 || listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        closesocket(s);
        return kInvalidSocket;
    }
    if (boundPort) *boundPort = ntohs(sin.sin_port);
    return static_cast<SocketHandle>(s);
}

SocketHandle AcceptWithin(SocketHandle listener, unsigned timeoutMs) {
    if (Select(listener, false, static_cast<long>(timeoutMs) * 1000) != 1) return kInvalidSocket;
    SOCKET s = accept(Sock(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

}  // namespace platform
