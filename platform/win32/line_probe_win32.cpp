#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>

#include "platform/line_probe.h"
#include "platform/sys.h"

namespace platform {

namespace {

LineProbe Probe(LineFault fault, const std::string& detail) {
    LineProbe p;
    p.fault = fault;
    p.detail = detail;
    return p;
}

std::string SystemText(DWORD error) {
    char text[256] = {0};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof(text) - 1, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.'))
        text[--n] = 0;
    return n > 0 ? std::string(text) : "error " + std::to_string(error);
}

LineFault FaultOfConnectError(int error) {
    switch (error) {
        case WSAECONNREFUSED:
        case WSAECONNRESET:
            return LineFault::kRefused;
        case WSAEHOSTUNREACH:
        case WSAENETUNREACH:
        case WSAENETDOWN:
        case WSAEHOSTDOWN:
        case WSAEADDRNOTAVAIL:
            return LineFault::kUnreachable;
        case WSAETIMEDOUT:
            return LineFault::kTimedOut;
        default:
            return LineFault::kOther;
    }
}

}  // namespace

LineProbe ProbeSerialPort(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos) return Probe(LineFault::kNoSuchPort, "no name");
    // As the driver opens it: the name unchanged, no sharing.
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_NO_BUFFERING, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        switch (error) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_INVALID_NAME:
            case ERROR_BAD_NETPATH:
            case ERROR_BAD_UNIT:
            case ERROR_DEV_NOT_EXIST:
                return Probe(LineFault::kNoSuchPort, SystemText(error));
            // A COM port another program has open refuses with access denied.
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION:
            case ERROR_BUSY:
                return Probe(LineFault::kBusy, "in use by another program");
            default:
                return Probe(LineFault::kOther, SystemText(error));
        }
    }
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    const bool serial = GetCommState(h, &dcb) != FALSE;
    const DWORD error = serial ? 0 : GetLastError();
    CloseHandle(h);
    if (!serial) return Probe(LineFault::kNotSerial, SystemText(error));
    return Probe(LineFault::kNone, std::string());
}

LineProbe ProbeTcpHost(const std::string& host, uint16_t port, unsigned timeoutMs) {
    if (host.empty() || host.find('\0') != std::string::npos) return Probe(LineFault::kNoSuchHost, "no host");
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return Probe(LineFault::kOther, "Windows Sockets did not start");
    LineProbe result;
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr(host.c_str());
    bool resolved = to.sin_addr.s_addr != INADDR_NONE || host == "255.255.255.255";
    if (!resolved) {
        addrinfo hints;
        std::memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int r = getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (r == 0 && found && found->ai_addr) {
            sockaddr_in first;
            std::memcpy(&first, found->ai_addr, sizeof first);
            to.sin_addr = first.sin_addr;
            resolved = true;
        }
        if (found) freeaddrinfo(found);
        if (!resolved) result = Probe(LineFault::kNoSuchHost, SystemText(static_cast<DWORD>(r ? r : WSAHOST_NOT_FOUND)));
    }
    if (resolved) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        if (s == INVALID_SOCKET) {
            result = Probe(LineFault::kOther, SystemText(static_cast<DWORD>(WSAGetLastError())));
        } else {
            u_long on = 1;
            ioctlsocket(s, FIONBIO, &on);
            int error = 0;
            if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
                error = WSAGetLastError();
                if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) {
                    fd_set writable, failed;
                    FD_ZERO(&writable);
                    FD_ZERO(&failed);
                    FD_SET(s, &writable);
                    FD_SET(s, &failed);
                    timeval wait;
                    wait.tv_sec = static_cast<long>(timeoutMs / 1000);
                    wait.tv_usec = static_cast<long>(timeoutMs % 1000) * 1000;
                    const int r = select(0, nullptr, &writable, &failed, &wait);
                    if (r == 0) {
                        error = WSAETIMEDOUT;
                    } else if (r < 0) {
                        error = WSAGetLastError();
                    } else if (FD_ISSET(s, &failed)) {
                        int length = sizeof error;
                        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
                            error == 0)
                            error = WSAECONNREFUSED;
                    } else {
                        error = 0;
                    }
                }
            }
            closesocket(s);
            result = error == 0 ? Probe(LineFault::kNone, std::string())
                                : Probe(FaultOfConnectError(error), SystemText(static_cast<DWORD>(error)));
        }
    }
    WSACleanup();
    return result;
}

}  // namespace platform
