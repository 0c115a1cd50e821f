#include "scales/exchange/ByteLine.h"

#include "platform/sys.h"
#include "scales/IScalesObject.h"
#include "transport/ZelComLanPort.h"

namespace zel {
namespace exchange {

int PortByteLine::Read(uint8_t* buffer, int size) { return port_.Read(buffer, size); }

int PortByteLine::Write(const uint8_t* data, int size) { return port_.Write(data, size); }

bool PortByteLine::WaitForInput(unsigned ms) { return port_.WaitForInput(ms); }

platform::WaitOutcome PortByteLine::WaitForInputOrWake(unsigned ms) { return port_.WaitForInputOrWake(ms); }

void PortByteLine::Sleep(unsigned ms) { platform::SleepMs(ms); }

uint64_t PortByteLine::NowMs() { return platform::MonotonicMs(); }

bool PortByteLine::ConnectionLost() { return port_.ConnectionLost(); }

int32_t ScaleSession::EnsureConnected() { return scale_.EnsureConnected(); }

int32_t ScaleSession::ReleaseConnection() { return scale_.ReleaseConnection(); }

int32_t ScaleSession::Disconnect() { return scale_.Disconnect(); }

}  // namespace exchange
}  // namespace zel
