// The two small seams the exchange engine runs against: the byte line (read
// without waiting, write, wait for input, sleep) and the scale object's
// connection management. The real ones adapt CZelComLanPort and
// IScalesObject; tests put a scripted line with a virtual clock in their place.
#pragma once

#include <cstdint>

#include "platform/wait.h"

class CZelComLanPort;
class IScalesObject;

namespace zel {
namespace exchange {

class IByteLine {
public:
    virtual ~IByteLine() = default;
    // Bytes already received, up to size; 0 when none. Never waits.
    virtual int Read(uint8_t* buffer, int size) = 0;
    // Bytes written, or a negative value when nothing could be written.
    virtual int Write(const uint8_t* data, int size) = 0;
    // Waits up to ms, returning as soon as input is waiting (true).
    virtual bool WaitForInput(unsigned ms) = 0;
    // As WaitForInput, also ended by a wake-up of the line's reader (a
    // listener's command or stop). `ms` may be kWaitForever only on a line
    // that CanSleep.
    virtual platform::WaitOutcome WaitForInputOrWake(unsigned ms) {
        return WaitForInput(ms) ? platform::WaitOutcome::kInput : platform::WaitOutcome::kTimeout;
    }
    // True when a wait without a bound can be ended by a wake-up.
    virtual bool CanSleep() const { return false; }
    virtual void Sleep(unsigned ms) = 0;
    // A monotonic clock in milliseconds: what a wait really took.
    virtual uint64_t NowMs() = 0;
    // True when the line closed itself because the other side ended the
    // connection; a new connection may carry on.
    virtual bool ConnectionLost() { return false; }
};

class IExchangeSession {
public:
    virtual ~IExchangeSession() = default;
    virtual int32_t EnsureConnected() = 0;
    virtual int32_t ReleaseConnection() = 0;
    virtual int32_t Disconnect() = 0;
};

// The device port as a byte line.
class PortByteLine : public IByteLine {
public:
    explicit PortByteLine(CZelComLanPort& port) : port_(port) {}
    int Read(uint8_t* buffer, int size) override;
    int Write(const uint8_t* data, int size) override;
    bool WaitForInput(unsigned ms) override;
    platform::WaitOutcome WaitForInputOrWake(unsigned ms) override;
    bool CanSleep() const override { return true; }
    void Sleep(unsigned ms) override;
    uint64_t NowMs() override;
    bool ConnectionLost() override;

private:
    CZelComLanPort& port_;
};

// A scale object's connection management as an exchange session.
class ScaleSession : public IExchangeSession {
public:
    explicit ScaleSession(IScalesObject& scale) : scale_(scale) {}
    int32_t EnsureConnected() override;
    int32_t ReleaseConnection() override;
    int32_t Disconnect() override;

private:
    IScalesObject& scale_;
};

}  // namespace exchange
}  // namespace zel
