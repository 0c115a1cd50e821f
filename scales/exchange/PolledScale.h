// A polled scale bound to its protocol description: Connect opens the line
// at the device's speed and the framing the model row set, ReadWeight runs
// the exchange engine, keeping across calls the replies the line still owes.
#pragma once

#include "scales/IScalesObject.h"
#include "scales/exchange/Exchange.h"
#include "scales/exchange/PolledProtocol.h"

class CPolledProtocolScale : public CPolledScalesObject {
public:
    explicit CPolledProtocolScale(const zel::exchange::PolledProtocol& protocol) : protocol_(protocol) {}

    // A new TCP connection carries none of the replies the old one owed.
    int32_t Connect() override;
    int32_t ReadWeight(double& weight, double& price, double& cost, int32_t& stable) override;

    const zel::exchange::PolledProtocol& Protocol() const { return protocol_; }

protected:
    // Command-only exchanges for the classes whose scale takes commands.
    int32_t SendCommand(const zel::exchange::CommandSpec& command);
    int32_t SendCommand(const uint8_t* bytes, int length, unsigned pauseMs);

private:
    const zel::exchange::PolledProtocol& protocol_;
    // The replies the line still owes, across calls.
    zel::exchange::LineAccount account_;
};
