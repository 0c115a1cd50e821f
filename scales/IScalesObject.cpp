#include "scales/IScalesObject.h"

#include <cstring>

IScalesObject::IScalesObject()
    : baudRate(4800), tcpPort(0), leaveConnect(0), coeff(1.0), connection(nullptr), line(zel::LineVariant::k8N1), fixedSplitPause(false) {
    std::memset(portName, 0, sizeof(portName));
    std::memset(deviceId, 0, sizeof(deviceId));
}

IScalesObject::~IScalesObject() { port.Close(); }

bool IScalesObject::StoreLine(const char* name, int32_t baud, int32_t tcp) {
    if (!name || std::strlen(name) > static_cast<size_t>(kTextMax)) return false;
    std::memset(portName, 0, sizeof(portName));
    std::memcpy(portName, name, std::strlen(name));
    baudRate = baud;
    tcpPort = tcp;
    return true;
}

int32_t IScalesObject::OpenCom(const char* name, int32_t baud, zel::IPlatformEvents* conn) {
    connection = conn;
    // A name longer than the field is refused rather than cut: a cut name
    // could open some other port.
    if (!StoreLine(name, baud, 0)) return zel::kNoConnection;
    int32_t r = Connect();
    if (leaveConnect == 0) Disconnect();
    return r;
}

int32_t IScalesObject::OpenTcp(const char* host, int32_t tcp, zel::IPlatformEvents* conn) {
    connection = conn;
    if (!StoreLine(host, 0, tcp)) return zel::kNoConnection;
    int32_t r = Connect();
    ReleaseConnection();
    return r;
}

int32_t IScalesObject::Connect() {
    Disconnect();
    if (tcpPort > 0) return port.OpenTcpPort(portName, tcpPort);
    return port.OpenComPort(portName);
}

int32_t IScalesObject::ConnectLine() {
    int32_t parity = 0, stopBits = 0;
    zel::LineCodes(line, parity, stopBits);
    Disconnect();
    int32_t r = tcpPort > 0 ? port.OpenTcpPort(portName, tcpPort) : port.OpenComPort(portName);
    port.SetBaudRate(baudRate);
    port.SetParity(parity);
    port.SetByteSize(8);
    port.SetStopBits(stopBits);
    return r;
}

int32_t IScalesObject::Disconnect() {
    port.Close();
    return 0;
}

bool IScalesObject::Matches(const char* text) {
    if (!text) return false;
    return std::strcmp(text, deviceId) == 0 || std::strcmp(text, portName) == 0;
}

int32_t IScalesObject::SetDeviceId(const char* id) {
    if (!id) return 0;
    std::memset(deviceId, 0, sizeof(deviceId));
    std::strncpy(deviceId, id, kTextMax);
    CAutoLockMutex guard(port.Lock());
    port.SetLogDeviceId(deviceId);
    return 0;
}

int32_t IScalesObject::SetLeaveConnect(int32_t flag) {
    leaveConnect = flag;
    return 0;
}

int32_t IScalesObject::SetCoeff(double coefficient) {
    coeff = coefficient;
    return 0;
}

double IScalesObject::GetCoeff() { return coeff; }

int32_t IScalesObject::CheckConnection() {
    CAutoLockMutex guard(port.Lock());
    return port.LineState();
}

int32_t IScalesObject::EnsureConnected() {
    if (CheckConnection() == zel::kOk) return zel::kOk;
    return Connect();
}

int32_t IScalesObject::ReleaseConnection() {
    if (leaveConnect == 0) Disconnect();
    return 0;
}
