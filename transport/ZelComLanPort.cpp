#include "transport/ZelComLanPort.h"

#include <atomic>
#include <exception>
#include <memory>
#include <string>

#include "core/ResultCodes.h"
#include "platform/files.h"
#include "platform/sys.h"
#include "transport/COMPort.h"
#include "transport/Log.h"
#include "transport/ZelSocket.h"

namespace {

const size_t kNameMax = 1023;

std::string Bounded(const char* text) {
    std::string s(text ? text : "");
    if (s.size() > kNameMax) s.resize(kNameMax);
    return s;
}

// Parity and stop-bit codes travel as bytes to the serial line; a value
// that is no byte must not wrap into a valid code.
uint8_t Code(int32_t v) { return v < 0 || v > 255 ? 0xFF : static_cast<uint8_t>(v); }

std::string ComponentFile(const std::string& name) {
    return platform::ModuleDirectory() + platform::PathSeparator() + name;
}

}  // namespace

struct CZelComLanPort::State {
    std::unique_ptr<CZelClientSocket> socket;
    std::unique_ptr<COMPort> comPort;
    bool logEnabled = false;
    std::string logPath;
    uint8_t mode = 0;
    int32_t baudRate = 4800;
    int32_t parity = 0;
    int32_t byteSize = 8;
    int32_t stopBits = 0;
    uint8_t handshaking = 0;
    uint8_t xonXoff = 0;
    std::string comName;
    std::string host;
    int32_t tcpPort = 20108;
    platform::FileHandle logFile = platform::kInvalidFile;
    bool connectionLost = false;
    // Threads inside a wait on the line; Close lets them go first.
    std::atomic<int> waiters{0};
    platform::WakeSignal wake;
};

CZelComLanPort::CZelComLanPort() : state_(std::make_unique<State>()) {
    state_->logEnabled = platform::FileExists(ComponentFile("log.txt"));
    state_->logPath = ComponentFile("log_scales_.log");
}

CZelComLanPort::~CZelComLanPort() {
    {
        CAutoLockMutex guard(lock_);
        Close();
        platform::CloseFile(state_->logFile);
        state_->logFile = platform::kInvalidFile;
    }
}

int CZelComLanPort::OpenComPort(const char* name) {
    CAutoLockMutex guard(lock_);
    Close();
    State& s = *state_;
    s.mode = 1;
    s.baudRate = 4800;
    s.parity = 0;
    s.byteSize = 8;
    s.stopBits = 0;
    s.handshaking = 0;
    s.xonXoff = 0;
    s.host.clear();
    s.comName = Bounded(name);
    return Open();
}

int CZelComLanPort::OpenTcpPort(const char* host, int32_t port) {
    CAutoLockMutex guard(lock_);
    Close();
    State& s = *state_;
    s.mode = 2;
    s.comName.clear();
    s.tcpPort = port;
    s.host = Bounded(host);
    return Open();
}

int CZelComLanPort::Open() {
    CAutoLockMutex guard(lock_);
    State& s = *state_;
    if (s.socket ? s.socket->Valid() : s.comPort != nullptr) return zel::kPortAlreadyOpen;
    Close();
    if (s.mode == 1) {
        try {
            s.comPort = std::make_unique<COMPort>(s.comName.c_str());
            s.comPort->SetBaudRate(s.baudRate);
            s.comPort->SetParity(Code(s.parity));
            s.comPort->SetByteSize(Code(s.byteSize));
            s.comPort->SetStopBits(Code(s.stopBits));
            s.comPort->SetHandshaking(s.handshaking);
            s.comPort->SetXonXoff(s.xonXoff);
        } catch (const std::exception&) {
            LogTraffic("ERROR_OPEN", 10, kTrafficSys);
            if (s.comPort) Close();
            return zel::kNoConnection;
        }
    } else if (s.mode == 2) {
        s.socket = std::make_unique<CZelClientSocket>();
        // The port number is taken as 16 bits: 65536 + n reaches port n.
        if (s.socket->Connect(s.host.c_str(), static_cast<uint16_t>(static_cast<uint32_t>(s.tcpPort))) != 0) {
            LogTraffic("ERROR_OPEN", 10, kTrafficSys);
            Close();
            return zel::kNoConnection;
        }
    } else {
        return zel::kNoConnection;
    }
    LogTraffic("OPEN", 4, kTrafficSys);
    return zel::kOk;
}

int CZelComLanPort::Close() {
    CAutoLockMutex guard(lock_);
    State& s = *state_;
    if (s.waiters.load() > 0) {
        // A thread waits on the line without the lock: end its wait, and
        // close only once it has let go of the line (within microseconds).
        s.wake.Raise();
        for (int spin = 0; s.waiters.load() > 0; ++spin) platform::SleepMs(spin < 100 ? 0 : 1);
    }
    s.connectionLost = false;
    if (s.socket) {
        LogTraffic("CLOSE", 5, kTrafficSys);
        s.socket.reset();
    }
    if (s.comPort) {
        LogTraffic("CLOSE", 5, kTrafficSys);
        const std::unique_ptr<COMPort> line = std::move(s.comPort);
        try {
            line->Close();
        } catch (const std::exception&) {
            // A refused close: the handle is gone all the same.
        }
    }
    return 0;
}

int CZelComLanPort::Read(void* buffer, int32_t size) {
    CAutoLockMutex guard(lock_);
    State& s = *state_;
    if (!buffer || size <= 0) return 0;
    int n;
    bool peerClosed = false;
    if (s.socket) {
        n = s.socket->Receive(buffer, size);
        if (n < 0) {
            if (n == -1) LoseConnection();
            n = 0;
        }
        peerClosed = s.socket && s.socket->PeerClosed();
    } else if (!s.comPort) {
        return 0;
    } else {
        try {
            n = s.comPort->Read(buffer, size);
        } catch (const std::exception&) {
            Close();
            return 0;
        }
    }
    LogTraffic(buffer, n, kTrafficIn);
    // A connection the scale (or its converter) closed is a lost line, as a
    // failed serial read is: close it so the next request reconnects.
    if (peerClosed) LoseConnection();
    return n;
}

int CZelComLanPort::Write(const void* data, int32_t size) {
    CAutoLockMutex guard(lock_);
    State& s = *state_;
    if (!data || size < 0) size = 0;
    int n;
    if (s.socket) {
        n = s.socket->Send(data, size);
        if (n < 0) {
            if (n == -1) LoseConnection();
            n = 0;
        }
    } else if (!s.comPort) {
        return -1;
    } else {
        try {
            n = s.comPort->Write(data, size);
        } catch (const std::exception&) {
            Close();
            return -2;
        }
    }
    LogTraffic(data, n, kTrafficOut);
    return n;
}

namespace {
// Applies one setting to an open serial line: 0, or -2 after closing the
// port when the line refuses it.
template <typename Apply>
int ApplySetting(CZelComLanPort& port, COMPort* line, Apply apply) {
    if (!line) return -1;
    try {
        apply(*line);
    } catch (const std::exception&) {
        port.Close();
        return -2;
    }
    return 0;
}
}  // namespace

int CZelComLanPort::SetBaudRate(int32_t baud) {
    CAutoLockMutex guard(lock_);
    state_->baudRate = baud;
    return ApplySetting(*this, state_->comPort.get(), [baud](COMPort& line) { line.SetBaudRate(baud); });
}

int CZelComLanPort::SetParity(int32_t parity) {
    CAutoLockMutex guard(lock_);
    state_->parity = parity;
    return ApplySetting(*this, state_->comPort.get(), [parity](COMPort& line) { line.SetParity(Code(parity)); });
}

int CZelComLanPort::SetByteSize(int32_t) {
    CAutoLockMutex guard(lock_);
    state_->byteSize = 8;
    return ApplySetting(*this, state_->comPort.get(), [](COMPort& line) { line.SetByteSize(8); });
}

int CZelComLanPort::SetStopBits(int32_t stopBits) {
    CAutoLockMutex guard(lock_);
    state_->stopBits = stopBits;
    return ApplySetting(*this, state_->comPort.get(), [stopBits](COMPort& line) { line.SetStopBits(Code(stopBits)); });
}

int CZelComLanPort::LogTraffic(const void* data, int32_t length, int direction) {
    CAutoLockMutex guard(lock_);
    State& s = *state_;
    if (!s.logEnabled || length <= 0 || !data) return 0;
    if (s.logFile == platform::kInvalidFile) {
        s.logFile = platform::OpenLogFile(s.logPath);
        if (s.logFile == platform::kInvalidFile) {
            s.logEnabled = false;
            return 0;
        }
    }
    std::string line;
    if (s.mode == 1) {
        line = zel::TrafficComLine(s.comName.c_str(), s.baudRate, s.parity, s.byteSize, s.stopBits, s.handshaking,
                                   s.xonXoff);
    } else if (s.mode == 2) {
        line = zel::TrafficTcpLine(s.host.c_str(), s.tcpPort);
    }
    std::string block =
        zel::TrafficBlock(direction, static_cast<const unsigned char*>(data), length, line, platform::Now());
    platform::WriteFileBytes(s.logFile, block.data(), block.size());
    return 0;
}

bool CZelComLanPort::WaitForInput(unsigned ms) {
    const uint64_t deadline = platform::MonotonicMs() + ms;
    for (;;) {
        const uint64_t now = platform::MonotonicMs();
        const unsigned left = now >= deadline ? 0u : static_cast<unsigned>(deadline - now);
        bool noLine = false;
        const platform::WaitOutcome r = WaitOnLine(left, &noLine);
        if (noLine) {
            if (left > 0) platform::SleepMs(left);
            return false;
        }
        // A wake is meant for a listener between its reads (or is a Close
        // letting this wait go): here it only starts the wait over.
        if (r == platform::WaitOutcome::kInput) return true;
        if (r == platform::WaitOutcome::kTimeout || left == 0) return false;
    }
}

platform::WaitOutcome CZelComLanPort::WaitForInputOrWake(unsigned ms) {
    bool noLine = false;
    return WaitOnLine(ms, &noLine);
}

platform::WaitOutcome CZelComLanPort::SleepOrWake(unsigned ms) {
    // Without a usable signal nothing could end an endless sleep.
    if (ms == platform::kWaitForever && !state_->wake.Usable()) return platform::WaitOutcome::kTimeout;
    if (ms == platform::kWaitForever) return platform::WaitForWake(&state_->wake, ms);
    // A wait on the signal that gives up early (a failing poll) must not
    // turn the sleep into a spin: the rest is slept plainly.
    const uint64_t deadline = platform::MonotonicMs() + ms;
    const platform::WaitOutcome r = platform::WaitForWake(&state_->wake, ms);
    if (r != platform::WaitOutcome::kTimeout) return r;
    const uint64_t now = platform::MonotonicMs();
    if (now < deadline) platform::SleepMs(static_cast<unsigned>(deadline - now));
    return r;
}

platform::WaitOutcome CZelComLanPort::WaitOnLine(unsigned ms, bool* noLine) {
    State& s = *state_;
    const bool forever = ms == platform::kWaitForever;
    const uint64_t deadline = forever ? 0 : platform::MonotonicMs() + ms;
    // Without a usable wake signal nothing could end a wait early: wait in
    // slices, so that a Close never waits on it for long.
    const unsigned slice = s.wake.Usable() ? platform::kWaitForever : 50u;
    for (;;) {
        unsigned left = platform::kWaitForever;
        if (!forever) {
            const uint64_t now = platform::MonotonicMs();
            left = now >= deadline ? 0u : static_cast<unsigned>(deadline - now);
        }
        if (left > slice) left = slice;
        COMPort* com = nullptr;
        CZelClientSocket* socket = nullptr;
        {
            CAutoLockMutex guard(lock_);
            if (s.socket && s.socket->Valid()) {
                socket = s.socket.get();
            } else if (!s.socket && s.comPort) {
                com = s.comPort.get();
            }
            if (!socket && !com) {
                *noLine = true;
                return platform::WaitOutcome::kTimeout;
            }
            s.waiters.fetch_add(1);
        }
        const platform::WaitOutcome r =
            socket ? socket->WaitForInputOrWake(left, &s.wake) : com->WaitForInputOrWake(left, &s.wake);
        s.waiters.fetch_sub(1);
        if (r != platform::WaitOutcome::kTimeout || slice == platform::kWaitForever) return r;
        if (!forever && platform::MonotonicMs() >= deadline) return r;
    }
}

void CZelComLanPort::Wake() { state_->wake.Raise(); }

void CZelComLanPort::LoseConnection() {
    Close();
    state_->connectionLost = true;
}

bool CZelComLanPort::ConnectionLost() {
    CAutoLockMutex guard(lock_);
    return state_->connectionLost;
}

int CZelComLanPort::LineState() {
    CAutoLockMutex guard(lock_);
    State& s = *state_;
    if (s.socket) return s.socket->Valid() ? 0 : 2;
    return s.comPort ? 0 : 2;
}

void CZelComLanPort::SetLogDeviceId(const char* deviceId) {
    CAutoLockMutex guard(lock_);
    State& s = *state_;
    platform::CloseFile(s.logFile);
    s.logFile = platform::kInvalidFile;
    // The ID names a file: separators in it must not lead elsewhere.
    std::string id(deviceId ? deviceId : "");
    for (char& c : id) {
        if (c == '/' || c == '\\' || c == ':') c = '_';
    }
    s.logPath = ComponentFile("log_scales_" + id + ".log");
}

CZelComLanPort::LineSettings CZelComLanPort::Settings() {
    CAutoLockMutex guard(lock_);
    const State& s = *state_;
    return {s.mode, s.baudRate, s.parity, s.byteSize, s.stopBits, s.handshaking, s.xonXoff, s.tcpPort};
}

std::string CZelComLanPort::LogPath() {
    CAutoLockMutex guard(lock_);
    return state_->logPath;
}
