// A polled scale bound to its protocol description and its constant commands
// (the model's row binds both; a class derives from it only where the model
// behaves otherwise, such as a price built from the value): Connect opens the line
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

namespace zel {
namespace exchange {

// What a model's row binds to its polled scale object: the wire protocol, the
// commands the object sends for Tare and Zero and the price frame it builds
// for SendPrice (null: the call answers 5, unless a class of the model's
// does it otherwise). All of static lifetime.
struct PolledBinding {
    const PolledProtocol* protocol = nullptr;
    const CommandSpec* tare = nullptr;
    const CommandSpec* zero = nullptr;
    const PriceCommand* price = nullptr;
};

}  // namespace exchange
}  // namespace zel

class CPolledProtocolScale : public CPolledScalesObject {
public:
    // `binding.protocol` is not null.
    explicit CPolledProtocolScale(const zel::exchange::PolledBinding& binding)
        : protocol_(*binding.protocol), tare_(binding.tare), zero_(binding.zero), price_(binding.price) {}

    int32_t OpenCom(const char* portName, int32_t baudRate, zel::IPlatformEvents* connection) override;
    int32_t OpenTcp(const char* host, int32_t tcpPort, zel::IPlatformEvents* connection) override;
    // A new TCP connection carries none of the replies the old one owed.
    int32_t Connect() override;
    int32_t Disconnect() override;
    int32_t ReleaseConnection() override;
    int32_t ReadWeight(double& weight, double& price, double& cost, int32_t& stable) override;
    // The bound command (a tare value is not sent: the scale tares what is
    // on it); 5 where none is bound.
    int32_t Tare(double tare) override;
    int32_t Zero() override;
    // The bound price frame; kBadPrice for a price it cannot carry.
    int32_t SendPrice(int32_t price) override;

    const zel::exchange::PolledProtocol& Protocol() const { return protocol_; }
    const zel::exchange::LineMemory& Memory() const { return memory_; }

protected:
    // A command-only exchange on the device's line.
    int32_t SendCommand(const zel::exchange::CommandSpec& command);

private:
    const zel::exchange::PolledProtocol& protocol_;
    const zel::exchange::CommandSpec* tare_;
    const zel::exchange::CommandSpec* zero_;
    const zel::exchange::PriceCommand* price_;
    // The replies the line still owes, across calls.
    zel::exchange::LineAccount account_;
    zel::exchange::LineMemory memory_;
    bool keepMemory_ = false;  // a Disconnect inside Connect or a release keeps it
};
