#include "scales/exchange/PolledScale.h"

#include "scales/exchange/Exchange.h"

using zel::exchange::PortByteLine;
using zel::exchange::Reading;
using zel::exchange::ScaleSession;

int32_t CPolledProtocolScale::OpenCom(const char* name, int32_t baud, zel::IPlatformEvents* conn) {
    memory_.Forget();
    return CPolledScalesObject::OpenCom(name, baud, conn);
}

int32_t CPolledProtocolScale::OpenTcp(const char* host, int32_t tcp, zel::IPlatformEvents* conn) {
    memory_.Forget();
    return CPolledScalesObject::OpenTcp(host, tcp, conn);
}

int32_t CPolledProtocolScale::Connect() {
    if (tcpPort > 0) account_.Forget();
    const bool was = keepMemory_;
    keepMemory_ = true;
    const int32_t r = ConnectLine();
    keepMemory_ = was;
    return r;
}

int32_t CPolledProtocolScale::Disconnect() {
    if (!keepMemory_) memory_.Forget();
    return CPolledScalesObject::Disconnect();
}

int32_t CPolledProtocolScale::ReleaseConnection() {
    const bool was = keepMemory_;
    keepMemory_ = true;
    const int32_t r = CPolledScalesObject::ReleaseConnection();
    keepMemory_ = was;
    return r;
}

int32_t CPolledProtocolScale::ReadWeight(double& weight, double& price, double& cost, int32_t& stable) {
    zel::exchange::LineMemoryScope lent(&memory_);
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

int32_t CPolledProtocolScale::Tare(double) { return tare_ ? SendCommand(*tare_) : zel::kNotSupported; }

int32_t CPolledProtocolScale::Zero() { return zero_ ? SendCommand(*zero_) : zel::kNotSupported; }

int32_t CPolledProtocolScale::SendPrice(int32_t price) {
    if (!price_) return zel::kNotSupported;
    PortByteLine line(port);
    ScaleSession session(*this);
    return zel::exchange::RunPriceCommand(line, session, *price_, price);
}

int32_t CPolledProtocolScale::SendCommand(const zel::exchange::CommandSpec& command) {
    PortByteLine line(port);
    ScaleSession session(*this);
    return zel::exchange::RunCommand(line, session, command);
}
