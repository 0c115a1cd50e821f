#include <string>

#include "core/ScalesManager.h"
#include "core/Text.h"
#include "platform/files.h"
#include "platform/sys.h"

// Devices pre-configured in settings.ini beside the library: sections
// [SCALES0] .. [SCALES99], read in order until the first section without
// fNum. Each becomes a device under the decimal text of its fNum.
int32_t CScalesManager::LoadSettings() {
    CloseAllDevices();
    const std::string path = platform::ModuleDirectory() + platform::PathSeparator() + "settings.ini";
    const int kMissing = -12345;
    for (int n = 0; n < kMaxDevices; ++n) {
        const std::string section = "SCALES" + std::to_string(n);
        const char* s = section.c_str();
        int num = platform::ProfileInt(path, s, "fNum", kMissing);
        if (num == kMissing) break;
        const std::string id = std::to_string(num);
        int type = platform::ProfileInt(path, s, "fType", 0);
        int isComPort = platform::ProfileInt(path, s, "fIsComPort", 1);
        int baud = platform::ProfileInt(path, s, "fComBaudRate", 4800);
        int tcp = platform::ProfileInt(path, s, "fTCPPort", 20108);
        int leave = platform::ProfileInt(path, s, "fLeaveConnect", 0);
        std::string comName = platform::ProfileString(path, s, "fComPortName", "");
        std::string hostName = platform::ProfileString(path, s, "fHost", "127.0.0.1");
        std::string coeffText = platform::ProfileString(path, s, "fCoeff", "1.0");
        double coefficient = zel::TextToDouble(coeffText.c_str());
        if (isComPort != 0) {
            CreateDevice(comName.c_str(), baud, type, false, id.c_str(), leave, coefficient);
        } else {
            CreateDevice(hostName.c_str(), tcp, type, true, id.c_str(), leave, coefficient);
        }
    }
    return 0;
}
