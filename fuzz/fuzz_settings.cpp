// settings.ini of any content: the private-profile reader directly on a
// temporary copy, then the component's own loading of its devices (Init with
// the file beside the library, which is this fuzzer) and a reading from each
// device it made.
//
// Devices must not open real lines: the file is handed to Init only when
// every device it describes is the emulator, a model the driver does not
// have, or a serial line under /nonexistent-zel-fuzz/ (which fails at once).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/ScalesManager.h"
#include "devices/Settings.h"
#include "fuzz/in_process.h"
#include "platform/files.h"
#include "platform/sys.h"
#include "scales/IScalesObject.h"

IScalesObject* CreateScalesObject(int32_t model);

using zel::host::Component;
using zel::host::Value;

namespace {

std::string g_temp, g_beside;

void Write(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

// The reader's promises for one key: texts of at most 259 characters, and
// the default back only when the key is not there.
void CheckKey(const char* section, const char* key) {
    std::string a = platform::ProfileString(g_temp, section, key, "A");
    std::string b = platform::ProfileString(g_temp, section, key, "B");
    if (a.size() > 259 || (a != b && (a != "A" || b != "B"))) std::abort();
    int x = platform::ProfileInt(g_temp, section, key, 7);
    int y = platform::ProfileInt(g_temp, section, key, -9);
    if (x != y && (x != 7 || y != -9)) std::abort();
}

bool Known(int model) {
    std::unique_ptr<IScalesObject> object(CreateScalesObject(model));
    return object != nullptr;
}

bool Harmless(const DeviceSettings& d) {
    if (d.type == 20 || !Known(d.type)) return true;
    return d.isComPort != 0 && d.comPortName.compare(0, 21, "/nonexistent-zel-fuzz") == 0 &&
           d.comPortName.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_temp = "/tmp/zel-fuzz-settings-" + std::to_string(getpid()) + ".ini";
    g_beside = LibrarySettingsPath();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Write(g_temp, data, size);
    static const char* const kSections[] = {"GLOBAL", "scales0", "SCALES1", ""};
    static const char* const kKeys[] = {"LOG_MODE", "FNUM", "fComPortName", ""};
    for (const char* s : kSections)
        for (const char* k : kKeys) CheckKey(s, k);

    // The devices as the component will read them.
    bool harmless = true;
    std::map<int, int> models;  // device number -> model of its last section
    for (int n = 0; n < CScalesManager::kMaxDevices; ++n) {
        DeviceSettings d;
        if (!ReadDeviceSettings(g_temp, n, &d)) break;
        if (d.comPortName.size() > 259 || d.host.size() > 259) std::abort();
        harmless = harmless && Harmless(d);
        models[d.num] = d.type;
    }
    platform::RemoveFile(g_temp);
    if (!harmless) return 0;

    Write(g_beside, data, size);
    {
        Component c(zelfuzz::InProcess(), Component::Options());
        // Every device of a model the driver has is there under its number.
        int asked = 0;
        for (const auto& m : models) {
            if (++asked > 8) break;
            Value id = Value::Text(zel::host::FromUtf8(std::to_string(m.first)));
            zel::host::CallResult r = c.CallNumber(11, {id, Value()});  // GetWeight
            int32_t code = c.LastError();
            if (!r.ok || (Known(m.second) && code == 8)) {
                std::fprintf(stderr, "device %d (model %d) not found: %d\n", m.first, m.second, code);
                std::abort();
            }
        }
        c.Init(true);  // loads the devices a second time over the first
        if (c.LiveBlocks() != 0 || c.BadStrings() != 0) std::abort();
    }
    platform::RemoveFile(g_beside);
    return 0;
}
