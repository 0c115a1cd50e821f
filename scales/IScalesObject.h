// The abstract scale: connection management shared by every protocol, and
// the operations the device table calls. Slot order is fixed.
#pragma once

#include <cstdint>

#include "core/ResultCodes.h"
#include "scales/Line.h"
#include "transport/ZelComLanPort.h"

namespace zel {

// Where an event-driven scale's readings go: the platform's external events.
// The component implements it over the platform's connection, so the scales
// never see the platform's interface. May be called from any thread.
// ExternalEvent is false when the platform did not take the event (its event
// queue is full): the event is not queued and may be offered again.
class IPlatformEvents {
public:
    virtual bool ExternalEvent(const char16_t* source, const char16_t* message, const char16_t* data) = 0;

protected:
    ~IPlatformEvents() = default;
};

}  // namespace zel

class IScalesObject {
public:
    static const int kTextMax = 253;

    IScalesObject();
    virtual ~IScalesObject();
    IScalesObject(const IScalesObject&) = delete;
    IScalesObject& operator=(const IScalesObject&) = delete;

    virtual int32_t OpenCom(const char* portName, int32_t baudRate, zel::IPlatformEvents* connection);
    virtual int32_t OpenTcp(const char* host, int32_t tcpPort, zel::IPlatformEvents* connection);
    virtual int32_t Connect();
    virtual int32_t Disconnect();
    virtual int32_t ReadWeight(double& weight, double& price, double& cost, int32_t& stable) = 0;
    virtual int32_t Tare(double tare) = 0;
    virtual int32_t Zero() = 0;
    virtual int32_t SendPrice(int32_t price) = 0;
    virtual bool Matches(const char* text);
    virtual int32_t SetDeviceId(const char* id);
    virtual int32_t SetLeaveConnect(int32_t flag);
    virtual int32_t SetCoeff(double coefficient);
    virtual double GetCoeff();
    virtual int32_t CheckConnection();
    virtual int32_t EnsureConnected();
    virtual int32_t ReleaseConnection();

    const char* DeviceId() const { return deviceId; }
    // The framing Connect sets on a serial line; the factory takes it from
    // the model table before the device is opened.
    void SetLineVariant(zel::LineVariant variant) { line = variant; }
    zel::LineVariant Line() const { return line; }
    // A split request sleeps its whole pause even when the scale answers
    // the first byte at once (settings.ini [OPTIONS] FixedSplitPause=1).
    void SetFixedSplitPause(bool fixed) { fixedSplitPause = fixed; }

protected:
    // Copies the settings for a line and stores the event targets; false
    // (result 1) for a null or over-long name.
    bool StoreLine(const char* name, int32_t baud, int32_t tcp);
    // The shared Connect of the polled and listener classes: open, then baud
    // rate, parity, 8 data bits and stop bits of `line`, whatever the open gave.
    int32_t ConnectLine();

    CZelComLanPort port;
    char portName[kTextMax + 1];
    int32_t baudRate;
    int32_t tcpPort;
    int32_t leaveConnect;
    double coeff;
    char deviceId[kTextMax + 1];
    zel::IPlatformEvents* connection;
    zel::LineVariant line;
    bool fixedSplitPause;
};

// Base for the polled protocols whose scale lacks tare, zero and price
// commands: those answer 5 and touch nothing.
class CPolledScalesObject : public IScalesObject {
public:
    int32_t Tare(double) override { return zel::kNotSupported; }
    int32_t Zero() override { return zel::kNotSupported; }
    int32_t SendPrice(int32_t) override { return zel::kNotSupported; }
};
