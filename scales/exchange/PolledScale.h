// A polled scale bound to its protocol description: Connect opens the line
// at the device's speed and the framing the model row set, ReadWeight runs
// the exchange engine, keeping across calls the replies the line still owes
// and what the decoders learnt of the line (LineMemory: kept while the line
// is let go between readings, forgotten when the device is opened or
// closed).
#pragma once

#include "scales/IScalesObject.h"
#include "scales/exchange/Exchange.h"
#include "scales/exchange/LineMemory.h"
#include "scales/exchange/PolledProtocol.h"

class CPolledProtocolScale : public CPolledScalesObject {
public:
    explicit CPolledProtocolScale(const zel::exchange::PolledProtocol& protocol) : protocol_(protocol) {}

    int32_t OpenCom(const char* portName, int32_t baudRate, zel::IPlatformEvents* connection) override;
    int32_t OpenTcp(const char* host, int32_t tcpPort, zel::IPlatformEvents* connection) override;
    // A new TCP connection carries none of the replies the old one owed.
    int32_t Connect() override;
    int32_t Disconnect() override;
    int32_t ReleaseConnection() override;
    int32_t ReadWeight(double& weight, double& price, double& cost, int32_t& stable) override;

    const zel::exchange::PolledProtocol& Protocol() const { return protocol_; }
    const zel::exchange::LineMemory& Memory() const { return memory_; }

protected:
    // Command-only exchanges for the classes whose scale takes commands.
    int32_t SendCommand(const zel::exchange::CommandSpec& command);
    int32_t SendCommand(const uint8_t* bytes, int length, unsigned pauseMs);

private:
    const zel::exchange::PolledProtocol& protocol_;
    // The replies the line still owes, across calls.
    zel::exchange::LineAccount account_;
    zel::exchange::LineMemory memory_;
    bool keepMemory_ = false;  // a Disconnect inside Connect or a release keeps it
};
