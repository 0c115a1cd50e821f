#include "scales/listener/EventProtocolScale.h"

#include "core/Text.h"

using namespace zel::listener;

CEventProtocolScale::CEventProtocolScale(const EventProtocol& protocol) : CScalesListener(), protocol_(protocol) {}

CEventProtocolScale::~CEventProtocolScale() { Shutdown(); }

void CEventProtocolScale::Flag(int index, int32_t value) {
    if (index < 0 || index >= protocol_.commandCount || index >= kMaxEventCommands) return;
    CAutoLockMutex guard(lock);
    values_[index] = value;
    pending_[index] = 1;
    WakeListener();
}

int32_t CEventProtocolScale::Tare(double tare) {
    switch (protocol_.tare) {
        case TareRule::kFlag:
            Flag(protocol_.tareCommand, 0);
            return 0;
        case TareRule::kAsPrice:
            return SendPrice(WholeValue(tare * 1000.0));
        default:
            return zel::kNotSupported;
    }
}

int32_t CEventProtocolScale::SendPrice(int32_t value) {
    if (protocol_.priceCommand < 0) return protocol_.noPriceResult;
    if (protocol_.maxPrice >= 0 && static_cast<uint32_t>(value) > static_cast<uint64_t>(protocol_.maxPrice))
        return zel::kBadPrice;
    Flag(protocol_.priceCommand, value);
    return 0;
}

void CEventProtocolScale::SendOne(int index) {
    const EventCommand& c = protocol_.commands[index];
    CAutoLockMutex guard(lock);
    if (!pending_[index] || !c.build) return;
    uint8_t bytes[kMaxEventCommand];
    const int length = c.build(values_[index], GetCoeff(), bytes);
    pending_[index] = 0;
    for (int i = 0; i < c.repeats; ++i) SendCommand(bytes, length, i + 1 < c.repeats ? c.repeatPauseMs : c.pauseMs);
}

void CEventProtocolScale::SendPending(CommandTime when) {
    for (int i = 0; i < protocol_.commandCount && i < kMaxEventCommands; ++i)
        if (protocol_.commands[i].when == when) SendOne(i);
}

bool CEventProtocolScale::ReadMustEnd() {
    CAutoLockMutex guard(lock);
    // A line that closed (a Disconnect from the platform, a failed read)
    // brings nothing more: the next cycle reopens it.
    return stopRequested != 0 || port.LineState() != 0;
}

int CEventProtocolScale::ReadOneFrame(uint8_t* frame, int capacity, int held) {
    if (protocol_.read == FrameRead::kFixed) return CScalesListener::ReadOneFrame(frame, capacity, held);
    // Byte by byte, hunting the frame start; nothing is carried over.
    PortLine line(*this);
    return ReadStartToEnd(line, protocol_, frame, capacity, cycle, [this] { return ReadMustEnd(); });
}

int CEventProtocolScale::NextFrameStart(const uint8_t* frame, int count) const {
    return protocol_.nextStart ? protocol_.nextStart(frame, count) : count;
}

void CEventProtocolScale::PublishReading(const EventReading& reading) {
    if (!protocol_.format) return;
    EventReading r = reading;
    if (protocol_.scaled) {
        const double coefficient = GetCoeff();
        r.weight = zel::ScaledWeight(r.weight, coefficient);
        r.tare = zel::ScaledWeight(r.tare, coefficient);
    }
    const EventOutput out = protocol_.format(r, deviceId);
    if (protocol_.broadcast)
        Publish(out.line, out.wParam, out.lParam);
    else
        NotifyPlatform(out.line);
}

CScalesListener::Next CEventProtocolScale::HandleFrame(const uint8_t* frame, int count) {
    // The very judgement ReadEventFrames gives the tools.
    const EventJudgement j = protocol_.judge(frame, count);
    switch (j.verdict) {
        case EventVerdict::kResync: return Next::Refused;
        case EventVerdict::kDropped: return Next::Continue;
        case EventVerdict::kNoNumber:
            return Refuse(protocol_.noNumberPauses ? Next::Pause : Next::Continue, j.why ? j.why : "no reading");
        case EventVerdict::kReading:
        case EventVerdict::kWithheld:
            if (protocol_.ack == AckRule::kByFrame && protocol_.ackCommand >= 0 &&
                protocol_.ackCommand < kMaxEventCommands) {
                CAutoLockMutex guard(lock);
                pending_[protocol_.ackCommand] = j.acknowledge ? 1 : 0;
            }
            if (j.verdict == EventVerdict::kWithheld) return Next::Pause;
            PublishReading(j.reading);
            // Acknowledged at the next read attempt.
            if (protocol_.ack == AckRule::kAfterReading && j.acknowledge) Flag(protocol_.ackCommand, 0);
            return Next::Pause;
        default:
            return Next::Pause;
    }
}
