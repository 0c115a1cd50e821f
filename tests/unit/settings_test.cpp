// settings.ini: the private-profile reading and the devices made from it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "devices/ScalesManager.h"
#include "devices/Settings.h"
#include "core/Text.h"
#include "platform/files.h"
#include "platform/net.h"
#include "scales/IScalesObject.h"
#include "tests/unit/model_rows.h"
#include "tests/unit/transport_test_util.h"
#include "tests/skip_or_fail.h"

namespace {

std::string TempIni(const std::string& text) {
    namespace fs = std::filesystem;
    static int serial = 0;
    fs::path p = fs::temp_directory_path() /
                 ("zel_settings_" + std::to_string(platform::MonotonicMs()) + "_" + std::to_string(++serial) + ".ini");
    zeltest::WriteAll(p.string(), text);
    return p.string();
}

int CountDevices(const CScalesManager& m) {
    int n = 0;
    for (IScalesObject* d : m.devices) n += d != nullptr;
    return n;
}

}  // namespace

TEST(Profile, ReadsLikeThePrivateProfileCalls) {
    const std::string longValue(300, 'v');
    std::string path = TempIni(
        "\xEF\xBB\xBF[GLOBAL]\r\nfNum=1\r\n"
        "  [Scales0]  \r\n"
        "fNum = 7\r\n"
        " FTYPE=13 \r\n"
        "fHost=\"10.0.0.5\"\r\n"
        "fComPortName='COM3'\r\n"
        "fCoeff=  0.5  \r\n"
        "fTCPPort=12abc\r\n"
        "fLeaveConnect=-2\r\n"
        "fComBaudRate=+9600\r\n"
        "fIsComPort=\r\n"
        "fText=a = b\r\n"
        "fLong=" + longValue + "\r\n"
        "fHalfQuoted=\"abc\r\n"
        "fNum=8\r\n"
        "[SCALES1]\nfNum=abc\nfType=-\n");
    struct IntCase {
        const char* section;
        const char* key;
        int expected;
    } ints[] = {
        {"SCALES0", "fNum", 7},         {"scales0", "FNUM", 7},           {"SCALES0", "fType", 13},
        {"SCALES0", "fTCPPort", 12},    {"SCALES0", "fLeaveConnect", -2}, {"SCALES0", "fComBaudRate", 9600},
        {"SCALES0", "fIsComPort", -5},  // empty value: the default
        {"SCALES0", "fMissing", -5},    {"SCALES1", "fNum", 0},           {"SCALES1", "fType", 0},
        {"SCALES2", "fNum", -12345},    {"GLOBAL", "fNum", 1},
    };
    for (const IntCase& c : ints) {
        EXPECT_EQ(platform::ProfileInt(path, c.section, c.key, c.key == std::string("fNum") ? -12345 : -5),
                  c.expected)
            << c.section << "/" << c.key;
    }
    struct TextCase {
        const char* key;
        std::string expected;
    } texts[] = {
        {"fHost", "10.0.0.5"},  {"fComPortName", "COM3"}, {"fCoeff", "0.5"},         {"fText", "a = b"},
        {"fLong", std::string(259, 'v')}, {"fHalfQuoted", "\"abc"}, {"fMissing", "dflt"},
    };
    for (const TextCase& c : texts) EXPECT_EQ(platform::ProfileString(path, "SCALES0", c.key, "dflt"), c.expected) << c.key;
    EXPECT_EQ(platform::ProfileInt(path + ".none", "SCALES0", "fNum", 4), 4);
    EXPECT_EQ(platform::ProfileString(path + ".none", "SCALES0", "fHost", "127.0.0.1"), "127.0.0.1");
    platform::RemoveFile(path);
}

TEST(Settings, SectionDefaults) {
    std::string path = TempIni(
        "[SCALES0]\nfNum=3\n"
        "[SCALES1]\nfNum=4\nfType=13\nfIsComPort=0\nfHost=scale-2\nfTCPPort=4001\nfLeaveConnect=1\n"
        "fComPortName=COM9\nfComBaudRate=9600\nfCoeff=0.25\n"
        "[SCALES2]\nfType=20\n");
    DeviceSettings d;
    ASSERT_TRUE(ReadDeviceSettings(path, 0, &d));
    EXPECT_EQ(d.num, 3);
    EXPECT_EQ(d.type, 0);
    EXPECT_EQ(d.isComPort, 1);
    EXPECT_EQ(d.comBaudRate, 4800);
    EXPECT_EQ(d.comPortName, "");
    EXPECT_EQ(d.host, "127.0.0.1");
    EXPECT_EQ(d.tcpPort, 20108);
    EXPECT_EQ(d.leaveConnect, 0);
    EXPECT_DOUBLE_EQ(d.coeff, 1.0);
    ASSERT_TRUE(ReadDeviceSettings(path, 1, &d));
    EXPECT_EQ(d.num, 4);
    EXPECT_EQ(d.type, 13);
    EXPECT_EQ(d.isComPort, 0);
    EXPECT_EQ(d.host, "scale-2");
    EXPECT_EQ(d.tcpPort, 4001);
    EXPECT_EQ(d.leaveConnect, 1);
    EXPECT_EQ(d.comPortName, "COM9");
    EXPECT_EQ(d.comBaudRate, 9600);
    EXPECT_DOUBLE_EQ(d.coeff, 0.25);
    EXPECT_FALSE(ReadDeviceSettings(path, 2, &d));  // no fNum
    // The coefficient follows the component's decimal separator.
    std::string comma = TempIni("[SCALES0]\nfNum=1\nfCoeff=0,5\n");
    zel::SetDecimalSeparator(',');
    ASSERT_TRUE(ReadDeviceSettings(comma, 0, &d));
    zel::SetDecimalSeparator('.');
    EXPECT_DOUBLE_EQ(d.coeff, 0.5);
    platform::RemoveFile(path);
    platform::RemoveFile(comma);
}

TEST(Settings, LoadSettingsMakesTheConfiguredDevices) {
    struct Case {
        const char* ini;  // nullptr: no file
        const char* present;
        const char* absent;
        int devices;
        int32_t lastResult;
        double coeff;
    } cases[] = {
        {nullptr, nullptr, "0", 0, 1099, 0},
        {"[GLOBAL]\nLOG_MODE=3\n", nullptr, "0", 0, 1099, 0},
        // A gap ends the list.
        {"[SCALES0]\nfNum=1\nfType=20\n[SCALES2]\nfNum=2\nfType=20\n", "1", "2", 1, 0, 1.0},
        // The same fNum twice: the later section wins.
        {"[SCALES0]\nfNum=4\nfType=20\nfCoeff=0.5\n[SCALES1]\nfNum=4\nfType=20\nfCoeff=2\n", "4", nullptr, 1, 0, 2.0},
        // A model without a class creates nothing; loading goes on.
        {"[SCALES0]\nfNum=5\nfType=RESERVED\n[SCALES1]\nfNum=6\nfType=20\nfCoeff=0.001\n", "6", "5", 1, 0, 0.001},
        {"[SCALES0]\nfNum=6\nfType=20\n[SCALES1]\nfNum=5\nfType=RESERVED\n", "6", "5", 1, 5, 1.0},
        // Ethernet without fHost: 127.0.0.1, which the device also matches.
        {"[SCALES0]\nfNum=9\nfType=20\nfIsComPort=0\n", "127.0.0.1", nullptr, 1, 0, 1.0},
        {"[SCALES0]\nfNum=-3\nfType=20\nfComPortName=COM4\n", "COM4", "3", 1, 0, 1.0},
    };
    const std::string path = LibrarySettingsPath();
    platform::RemoveFile(path);  // the test program's own directory: only an aborted run leaves one
    for (const Case& c : cases) {
        CScalesManager manager;
        std::string opened;
        manager.model = 20;
        manager.OpenDevice(opened);  // a device made by Open goes too
        {
            // RESERVED: a placeholder of the table, a model with no class.
            std::string ini = c.ini ? c.ini : "";
            for (size_t at; (at = ini.find("RESERVED")) != std::string::npos;)
                ini.replace(at, 8, std::to_string(zeltest::FirstReservedModel()));
            zeltest::ScopedFile file(path, ini);
            if (!c.ini) platform::RemoveFile(path);
            EXPECT_EQ(manager.LoadSettings(), 0);
        }
        const char* label = c.ini ? c.ini : "(no file)";
        EXPECT_EQ(manager.FindDevice(opened.c_str()), nullptr) << label;
        EXPECT_EQ(CountDevices(manager), c.devices) << label;
        EXPECT_EQ(manager.lastResult, c.lastResult) << label;
        if (c.present) {
            IScalesObject* d = manager.FindDevice(c.present);
            ASSERT_NE(d, nullptr) << label;
            EXPECT_DOUBLE_EQ(d->GetCoeff(), c.coeff) << label;
        }
        if (c.absent) {
            EXPECT_EQ(manager.FindDevice(c.absent), nullptr) << label;
        }
    }
}

TEST(Settings, EthernetDefaultsReach127001At20108) {
    uint16_t bound = 0;
    platform::SocketHandle listener = platform::ListenLoopback(20108, &bound);
    if (listener == platform::kInvalidSocket) ZEL_SKIP_OR_FAIL("TCP port 20108 is taken on this machine");
    const std::string path = LibrarySettingsPath();
    platform::RemoveFile(path);  // the test program's own directory: only an aborted run leaves one
    CScalesManager manager;
    {
        // Model 13 opens its line on creation; no fHost, no fTCPPort.
        zeltest::ScopedFile file(path, "[SCALES0]\r\nfNum=12\r\nfType=13\r\nfIsComPort=0\r\n");
        manager.LoadSettings();
    }
    platform::SocketHandle peer = platform::AcceptWithin(listener, 1000);
    EXPECT_NE(peer, platform::kInvalidSocket);
    EXPECT_EQ(manager.lastResult, 0);
    EXPECT_NE(manager.FindDevice("12"), nullptr);
    platform::CloseSocket(peer);
    platform::CloseSocket(listener);
}
