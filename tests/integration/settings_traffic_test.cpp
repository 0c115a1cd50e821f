// Devices configured in settings.ini beside the library, and the traffic log
// switched on by log.txt there, seen through the loaded library.
#include <gtest/gtest.h>

#include <string>

#include "host/Component.h"
#include "platform/files.h"
#include "platform/sys.h"
#include "sim/Simulator.h"
#include "tests/unit/transport_test_util.h"

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(SettingsFile, ConfiguredDevicesAnswerUnderTheirNumbersAndLogTheirTraffic) {
    using zel::host::Value;
    sim::Simulator scale(13);
    ASSERT_TRUE(scale.StartPty());
    scale.SetWeight(1.234);
    scale.SetStable(true);

    const std::string logPath = zel::host::BesideLibrary("log_scales_7.log");
    platform::RemoveFile(logPath);
    zeltest::HeldMarker marker(zel::host::BesideLibrary("log.txt"));
    zeltest::ScopedFile settings(zel::host::BesideLibrary("settings.ini"),
                                 "[SCALES0]\r\nfNum=7\r\nfType=13\r\nfComBaudRate=9600\r\nfComPortName=" +
                                     scale.DevicePath() + "\r\n[SCALES1]\r\nfNum=8\r\nfType=20\r\n");
    {
        zel::host::Component driver;  // Init reads settings.ini
        for (const char16_t* id : {u"7", u"8"}) {
            bool ok = false;
            for (int attempt = 0; attempt < 5 && !ok; ++attempt) {  // the emulator skips one reading in ten
                auto r = driver.Call(u"GetWeight", {Value::Text(id), Value()});
                ok = r.ok && r.ret.boolean;
                if (ok && id[0] == u'7') {
                    EXPECT_DOUBLE_EQ(r.params[1].number, 1.234);
                }
            }
            EXPECT_TRUE(ok) << "device " << char(id[0]);
        }
        // Not a configured number.
        auto r = driver.Call(u"GetWeight", {Value::Text(u"9"), Value()});
        EXPECT_FALSE(r.ret.boolean);
        EXPECT_EQ(driver.LastError(), 8);
    }
    std::string log = zeltest::ReadAll(logPath);
    platform::RemoveFile(logPath);
    platform::RemoveFile(zel::host::BesideLibrary("log_scales_8.log"));
    // Open on creation and on the request, each with its close; the request
    // bytes out; the reply in.
    EXPECT_GE(Count(log, "SYS      "), 4u);
    EXPECT_EQ(Count(log, "4F 50 45 4E"), Count(log, "43 4C 4F 53 45")) << "every OPEN has its CLOSE";
    EXPECT_NE(log.find("OUT >>>>>"), std::string::npos);
    EXPECT_NE(log.find("IN <<<<<<"), std::string::npos);
    EXPECT_NE(log.find("COMPORT: " + scale.DevicePath() + ";9600\\None\\8\\1, Handshaking=0, xONxOFF=0\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("00001: 05 "), std::string::npos) << "the request's first byte";
}

}  // namespace
