#include "devices/Settings.h"

#include "devices/ScalesManager.h"
#include "core/Text.h"
#include "platform/files.h"
#include "platform/sys.h"

std::string LibrarySettingsPath() {
    return platform::ModuleDirectory() + platform::PathSeparator() + "settings.ini";
}

bool ReadDeviceSettings(const std::string& path, int index, DeviceSettings* out) {
    const int kMissing = -12345;
    const std::string name = "SCALES" + std::to_string(index);
    const char* s = name.c_str();
    int num = platform::ProfileInt(path, s, "fNum", kMissing);
    if (num == kMissing) return false;
    DeviceSettings d;
    d.num = num;
    d.type = platform::ProfileInt(path, s, "fType", 0);
    d.isComPort = platform::ProfileInt(path, s, "fIsComPort", 1);
    d.comBaudRate = platform::ProfileInt(path, s, "fComBaudRate", 4800);
    d.tcpPort = platform::ProfileInt(path, s, "fTCPPort", 20108);
    d.leaveConnect = platform::ProfileInt(path, s, "fLeaveConnect", 0);
    d.comPortName = platform::ProfileString(path, s, "fComPortName", "");
    d.host = platform::ProfileString(path, s, "fHost", "127.0.0.1");
    d.coeff = zel::TextToDouble(platform::ProfileString(path, s, "fCoeff", "1.0").c_str());
    *out = d;
    return true;
}

// Devices pre-configured beside the library: sections [SCALES0] ..
// [SCALES99], read in order until the first one without fNum.
int32_t CScalesManager::LoadSettings() {
    CloseAllDevices();
    const std::string path = LibrarySettingsPath();
    fixedSplitPause = platform::ProfileInt(path, "OPTIONS", "FixedSplitPause", 0) != 0;
    for (int n = 0; n < kMaxDevices; ++n) {
        DeviceSettings d;
        if (!ReadDeviceSettings(path, n, &d)) break;
        const std::string id = std::to_string(d.num);
        if (d.isComPort != 0) {
            CreateDevice(d.comPortName.c_str(), d.comBaudRate, d.type, false, id.c_str(), d.leaveConnect, d.coeff);
        } else {
            CreateDevice(d.host.c_str(), d.tcpPort, d.type, true, id.c_str(), d.leaveConnect, d.coeff);
        }
    }
    return 0;
}
