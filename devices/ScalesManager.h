// The driver core embedded in each component: the table of up to 100 open
// scale objects, the current connection parameters and the last result.
#pragma once

#include <cstdint>
#include <string>

class IScalesObject;
namespace zel {
class IPlatformEvents;
}

class CScalesManager {
public:
    static const int kMaxDevices = 100;

    CScalesManager();
    ~CScalesManager();
    CScalesManager(const CScalesManager&) = delete;
    CScalesManager& operator=(const CScalesManager&) = delete;

    int32_t CreateDevice(const char* portText, int32_t portNumber, int32_t model, bool ethernet,
                         const char* deviceId, int32_t leaveConnect, double coeff);
    IScalesObject* FindDevice(const char* deviceId);
    int32_t CloseDevice(const char* deviceId);
    int32_t CloseAllDevices();
    int32_t OpenDevice(std::string& deviceId);
    int32_t ReadDeviceWeight(const char* deviceId, double& weight, double& price, double& cost, int32_t& stable);
    const char16_t* ResultText() const;
    int32_t LoadSettings();  // devices/Settings.cpp

    int32_t lastResult;
    zel::IPlatformEvents* connection;
    IScalesObject* devices[kMaxDevices];

    // Current parameters, filled by SetParameter and read only by OpenDevice.
    // Texts are kept as the platform gave them and converted on use.
    int32_t model;
    int32_t connType;
    int32_t leaveConnect;
    double coeff;
    std::u16string comPortName;
    int32_t baudRate;
    std::u16string host;
    int32_t tcpPort;

    // From settings.ini beside the library, [OPTIONS]: split requests sleep
    // their whole pause (FixedSplitPause=1). Handed to every device created.
    bool fixedSplitPause = false;

private:
    void Destroy(int index);
};

// 20 upper-case hexadecimal digits from 10 random bytes.
std::string MakeDeviceId();
