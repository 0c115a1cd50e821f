#include "transport/ZelSocket.h"

#include "core/ResultCodes.h"
#include "platform/sys.h"

namespace {
const long kConnectTimeoutUs = 3000000;
const long kSendWaitUs = 1000000;
const long kReceiveLookUs = 10;
}  // namespace

CZelSocket::~CZelSocket() {
    if (Valid()) platform::CloseSocket(handle);
    handle = platform::kInvalidSocket;
}

CZelClientSocket::CZelClientSocket() {
    handle = platform::TcpSocket();
    platform::SetKeepAlive(handle);
}

int CZelClientSocket::Connect(const char* host, uint16_t port) {
    uint32_t address = 0;
    // An empty host names no scale (some inet_addr versions read it as
    // 0.0.0.0, which would reach this machine).
    if (!host || !host[0] || !platform::ResolveIPv4(host, &address)) return -1;
    if (!Valid()) return zel::kPortError;
    platform::SetNonBlocking(handle, true);
    int started = platform::StartConnect(handle, address, port);
    if (started == 0) return 0;  // stays non-blocking
    platform::SetNonBlocking(handle, false);
    if (started < 0) return zel::kPortError;
    return platform::WaitConnected(handle, kConnectTimeoutUs) ? zel::kOk : zel::kPortError;
}

int CZelClientSocket::Send(const void* data, int32_t length) {
    if (!Valid()) return -1;
    if (!data || length <= 0) return 0;
    const auto* p = static_cast<const unsigned char*>(data);
    int32_t sent = 0;
    while (sent < length) {
        if (platform::WaitWritable(handle, kSendWaitUs) != 1) break;
        long n = platform::SocketSend(handle, p + sent, static_cast<size_t>(length - sent));
        if (n < 0) return -1;
        if (n == 0) break;  // writable yet nothing taken: give back what went
        sent += static_cast<int32_t>(n);
    }
    return sent;
}

int CZelClientSocket::Receive(void* buffer, int32_t size) {
    if (!Valid()) return -1;
    if (!buffer || size <= 0) return 0;
    auto* p = static_cast<unsigned char*>(buffer);
    int32_t got = 0;
    long last = 1;
    while (got < size && last != 0) {
        if (platform::WaitReadable(handle, kReceiveLookUs) != 1) break;
        last = platform::SocketReceive(handle, p + got, static_cast<size_t>(size - got));
        if (last < 0) return -1;
        if (last == 0) peerClosed = true;
        got += static_cast<int32_t>(last);
    }
    return got;
}

bool CZelClientSocket::WaitForInput(unsigned ms) {
    if (!Valid()) return false;
    if (platform::WaitReadable(handle, static_cast<long>(ms) * 1000) != 1) return false;
    NotePeerClose();
    return true;
}

platform::WaitOutcome CZelClientSocket::WaitForInputOrWake(unsigned ms, platform::WakeSignal* wake) {
    if (!Valid()) return platform::WaitForWake(wake, ms);
    const platform::WaitOutcome r = platform::WaitReadableOrWake(handle, ms, wake);
    if (r == platform::WaitOutcome::kInput) NotePeerClose();
    return r;
}

void CZelClientSocket::NotePeerClose() {
    // Readable with nothing to read is the peer's close: wake the caller so
    // its next Read sees it and the port closes (and is reopened by the next
    // request) instead of waiting on a dead connection.
    unsigned char probe;
    if (platform::SocketPeek(handle, &probe, 1) == 0) peerClosed = true;
}
