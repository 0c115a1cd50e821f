// The scale object of every event-driven model: a listener that runs the
// model's EventProtocol. The factory makes one from the row's description;
// the row's class name stays the text the setup form shows.
#pragma once

#include <cstdint>

#include "core/ResultCodes.h"
#include "scales/listener/EventProtocol.h"
#include "scales/listener/ListenerScale.h"

class CEventProtocolScale final : public CScalesListener {
public:
    // `protocol` has static lifetime.
    explicit CEventProtocolScale(const zel::listener::EventProtocol& protocol);
    ~CEventProtocolScale() override;

    // As the description's TareRule says.
    int32_t Tare(double tare) override;
    int32_t Zero() override { return zel::kNotSupported; }
    // Flags the description's price command with the value (kBadPrice above
    // its bound); without one, answers its noPriceResult.
    int32_t SendPrice(int32_t value) override;

    const zel::listener::EventProtocol& Protocol() const { return protocol_; }

protected:
    int FrameLength() const override { return protocol_.length; }
    int ReadOneFrame(uint8_t* frame, int capacity, int held) override;
    int NextFrameStart(const uint8_t* frame, int count) const override;
    void BeforeCycle() override { SendPending(zel::listener::CommandTime::kBeforeCycle); }
    void BeforeReadAttempt() override { SendPending(zel::listener::CommandTime::kBeforeRead); }
    Next HandleFrame(const uint8_t* frame, int count) override;

private:
    // Flags command `index` with `value` and wakes the listener.
    void Flag(int index, int32_t value);
    // Writes each pending command sent at `when`, in the description's
    // order; a command the line does not take whole is lost.
    void SendPending(zel::listener::CommandTime when);
    void SendOne(int index);
    // A stop request, or a line that closed under the read.
    bool ReadMustEnd();
    void PublishReading(const zel::listener::EventReading& reading);

    const zel::listener::EventProtocol& protocol_;
    uint8_t pending_[zel::listener::kMaxEventCommands] = {};
    int32_t values_[zel::listener::kMaxEventCommands] = {};
};
