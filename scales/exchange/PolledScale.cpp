#include "scales/exchange/PolledScale.h"

#include "scales/exchange/Exchange.h"

using zel::exchange::PortByteLine;
using zel::exchange::Reading;
using zel::exchange::ScaleSession;

int32_t CPolledProtocolScale::Connect() {
    if (tcpPort > 0) account_.Forget();
    return ConnectLine();
}

int32_t CPolledProtocolScale::ReadWeight(double& weight, double& price, double& cost, int32_t& stable) {
    Reading io;
    io.weight = weight;
    io.price = price;
    io.cost = cost;
    io.stable = stable;
    PortByteLine line(port);
    ScaleSession session(*this);
    zel::exchange::CycleOptions options;
    options.fixedSplitPause = fixedSplitPause;
    options.account = &account_;
    int32_t r = zel::exchange::RunReadCycle(protocol_, line, session, io, options);
    weight = io.weight;
    price = io.price;
    cost = io.cost;
    stable = io.stable;
    return r;
}

int32_t CPolledProtocolScale::SendCommand(const zel::exchange::CommandSpec& command) {
    PortByteLine line(port);
    ScaleSession session(*this);
    return zel::exchange::RunCommand(line, session, command);
}

int32_t CPolledProtocolScale::SendCommand(const uint8_t* bytes, int length, unsigned pauseMs) {
    PortByteLine line(port);
    ScaleSession session(*this);
    return zel::exchange::RunCommand(line, session, bytes, length, pauseMs);
}
