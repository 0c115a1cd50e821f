// Minimal stand-in until the serial and TCP lines exist: every open fails.
#include "transport/ZelComLanPort.h"

#include "platform/sys.h"

struct CZelComLanPort::State {};

CZelComLanPort::CZelComLanPort() : state_(nullptr) {}
CZelComLanPort::~CZelComLanPort() {}
int CZelComLanPort::OpenComPort(const char*) { return 1; }
int CZelComLanPort::OpenTcpPort(const char*, int32_t) { return 1; }
int CZelComLanPort::Open() { return 1; }
int CZelComLanPort::Close() { return 0; }
int CZelComLanPort::Read(void*, int32_t) { return 0; }
int CZelComLanPort::Write(const void*, int32_t) { return -1; }
int CZelComLanPort::SetBaudRate(int32_t) { return -1; }
int CZelComLanPort::SetParity(int32_t) { return -1; }
int CZelComLanPort::SetByteSize(int32_t) { return -1; }
int CZelComLanPort::SetStopBits(int32_t) { return -1; }
int CZelComLanPort::LogTraffic(const void*, int32_t, int) { return 0; }
bool CZelComLanPort::WaitForInput(unsigned ms) {
    platform::SleepMs(ms);
    return false;
}
int CZelComLanPort::LineState() { return 2; }
void CZelComLanPort::SetLogDeviceId(const char*) {}
