// The CAS text-frame scale object: it holds the line's check lock, which
// lasts while the device is open (a released line keeps it, a close or a new
// open forgets it), and lends it to the decoders for each reading.
#include "scales/Cas.h"

int32_t CCasTextScale::OpenCom(const char* name, int32_t baud, zel::IPlatformEvents* conn) {
    lock_.Forget();
    return CPolledProtocolScale::OpenCom(name, baud, conn);
}

int32_t CCasTextScale::OpenTcp(const char* host, int32_t tcp, zel::IPlatformEvents* conn) {
    lock_.Forget();
    return CPolledProtocolScale::OpenTcp(host, tcp, conn);
}

int32_t CCasTextScale::Connect() {
    const bool was = keepLock_;
    keepLock_ = true;
    const int32_t r = CPolledProtocolScale::Connect();
    keepLock_ = was;
    return r;
}

int32_t CCasTextScale::Disconnect() {
    if (!keepLock_) lock_.Forget();
    return CPolledProtocolScale::Disconnect();
}

int32_t CCasTextScale::ReleaseConnection() {
    const bool was = keepLock_;
    keepLock_ = true;
    const int32_t r = CPolledProtocolScale::ReleaseConnection();
    keepLock_ = was;
    return r;
}

int32_t CCasTextScale::ReadWeight(double& weight, double& price, double& cost, int32_t& stable) {
    zel::cas::CheckLockScope scope(lock_);
    return CPolledProtocolScale::ReadWeight(weight, price, cost, stable);
}
