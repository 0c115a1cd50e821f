// One device section [SCALESn] of settings.ini, with the defaults that stand
// in for missing keys.
#pragma once

#include <string>

struct DeviceSettings {
    int num = 0;             // fNum: the device ID is its decimal text
    int type = 0;            // fType: model number
    int isComPort = 1;       // fIsComPort: 0 Ethernet, otherwise COM
    int comBaudRate = 4800;  // fComBaudRate
    int tcpPort = 20108;     // fTCPPort
    int leaveConnect = 0;    // fLeaveConnect
    std::string comPortName;           // fComPortName
    std::string host = "127.0.0.1";    // fHost
    double coeff = 1.0;      // fCoeff, read with the component's decimal separator
};

// Reads section "SCALES<index>" of the file at `iniPath`; false when it has
// no fNum (which ends the list of devices).
bool ReadDeviceSettings(const std::string& iniPath, int index, DeviceSettings* out);

// settings.ini beside the library.
std::string LibrarySettingsPath();
