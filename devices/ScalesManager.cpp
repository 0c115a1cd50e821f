#include "devices/ScalesManager.h"

#include "core/ResultCodes.h"
#include "core/Text.h"
#include "platform/sys.h"
#include "devices/ModelTable.h"
#include "scales/IScalesObject.h"

CScalesManager::CScalesManager()
    : lastResult(zel::kNothingDone),
      connection(nullptr),
      devices{},
      model(0),
      connType(0),
      leaveConnect(0),
      coeff(1.0),
      baudRate(0),
      tcpPort(0) {}

CScalesManager::~CScalesManager() { CloseAllDevices(); }

void CScalesManager::Destroy(int index) {
    devices[index]->Disconnect();
    delete devices[index];
    devices[index] = nullptr;
}

int32_t CScalesManager::CreateDevice(const char* portText, int32_t portNumber, int32_t newModel, bool ethernet,
                                     const char* deviceId, int32_t leave, double coefficient) {
    if (!portText) return lastResult = zel::kNoConnection;
    if (FindDevice(deviceId)) CloseDevice(deviceId);
    int slot = -1;
    for (int i = 0; i < kMaxDevices; ++i) {
        if (!devices[i]) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return lastResult = zel::kNothingDone;
    IScalesObject* object = CreateScalesObject(newModel);
    if (!object) return lastResult = zel::kNotSupported;
    devices[slot] = object;
    object->SetFixedSplitPause(fixedSplitPause);
    object->SetDeviceId(deviceId);
    object->SetCoeff(coefficient);
    object->SetLeaveConnect(leave);
    lastResult = ethernet ? object->OpenTcp(portText, portNumber, connection)
                          : object->OpenCom(portText, portNumber, connection);
    object->Disconnect();
    return lastResult;
}

IScalesObject* CScalesManager::FindDevice(const char* deviceId) {
    if (!deviceId) return nullptr;
    for (IScalesObject* object : devices) {
        if (object && object->Matches(deviceId)) return object;
    }
    return nullptr;
}

int32_t CScalesManager::CloseDevice(const char* deviceId) {
    for (int i = 0; i < kMaxDevices; ++i) {
        if (devices[i] && devices[i]->Matches(deviceId)) Destroy(i);
    }
    return lastResult = zel::kOk;
}

int32_t CScalesManager::CloseAllDevices() {
    for (int i = 0; i < kMaxDevices; ++i) {
        if (devices[i]) Destroy(i);
    }
    return lastResult = zel::kNothingDone;
}

std::string MakeDeviceId() {
    unsigned char bytes[10] = {};
    if (!platform::RandomBytes(bytes, sizeof(bytes))) {
        // The system's random source failed: fall back to time and address
        // mixing rather than a constant ID.
        uint64_t x = platform::MonotonicMs() ^ (static_cast<uint64_t>(platform::UnixSeconds()) << 20) ^
                     reinterpret_cast<uintptr_t>(&bytes);
        for (unsigned char& b : bytes) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            b = static_cast<unsigned char>(x);
        }
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string id;
    for (unsigned char b : bytes) {
        id += kHex[b >> 4];
        id += kHex[b & 15];
    }
    return id;
}

int32_t CScalesManager::OpenDevice(std::string& deviceId) {
    deviceId = MakeDeviceId();
    if (connType != 0) {
        std::string text = platform::WideToAnsi(host.data(), host.size());
        CreateDevice(text.c_str(), tcpPort, model, true, deviceId.c_str(), leaveConnect, coeff);
    } else {
        std::string text = platform::WideToAnsi(comPortName.data(), comPortName.size());
        CreateDevice(text.c_str(), baudRate, model, false, deviceId.c_str(), leaveConnect, coeff);
    }
    return 0;
}

int32_t CScalesManager::ReadDeviceWeight(const char* deviceId, double& weight, double& price, double& cost,
                                         int32_t& stable) {
    IScalesObject* object = FindDevice(deviceId);
    if (!object) return lastResult = zel::kDeviceNotFound;
    int32_t r = object->ReadWeight(weight, price, cost, stable);
    weight = zel::ScaledWeight(weight, object->GetCoeff());
    return lastResult = r;
}

const char16_t* CScalesManager::ResultText() const { return zel::ResultText(lastResult); }
