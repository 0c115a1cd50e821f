// The device table through the loaded library: devices whose open failed,
// and the devices of settings.ini with and without a platform connection.
#include <string>

#include "platform/files.h"
#include "platform/net.h"
#include "tests/host/support.h"
#include "tests/unit/transport_test_util.h"

using namespace zeltest;

namespace {

// A loopback port where nothing listens.
uint16_t RefusingPort() {
    uint16_t port = 0;
    platform::SocketHandle s = platform::ListenLoopback(0, &port);
    platform::CloseSocket(s);
    return port;
}

TEST_F(DriverTest, FailedOpenStaysInTheTableUntilClose) {
    // The open reports the port's failure, yet the device is in the table:
    // every request on it tries the line again and gives 1, not 8.
    struct Case {
        const char* name;
        int32_t model;
        bool tcp;
    };
    for (const Case& k : {Case{"missing serial port", 13, false}, Case{"refused TCP", 10, true}}) {
        SCOPED_TRACE(k.name);
        ASSERT_TRUE(c->SetParameter(u"model", Value::Int(k.model)));
        if (k.tcp) {
            ASSERT_TRUE(c->SetParameter(u"conntype", Value::Int(1)));
            ASSERT_TRUE(c->SetParameter(u"ehost", Value::Text(u"127.0.0.1")));
            ASSERT_TRUE(c->SetParameter(u"eport", Value::Int(RefusingPort())));
        } else {
            ASSERT_TRUE(c->SetParameter(u"conntype", Value::Int(0)));
            ASSERT_TRUE(c->SetParameter(u"cport", Value::Text(u"/dev/zel-no-such-port")));
        }
        std::u16string id = c->Open();
        EXPECT_EQ(Code(), 1);
        ASSERT_FALSE(id.empty());
        for (int i = 0; i < 2; ++i) {
            CallResult r = c->Call(u"GetWeight", {Value::Text(id), Value()});
            EXPECT_FALSE(r.ret.boolean);
            EXPECT_EQ(Code(), 1);
        }
        EXPECT_TRUE(c->Call(u"Close", {Value::Text(id)}).ret.boolean);
        CallResult r = c->Call(u"GetWeight", {Value::Text(id), Value()});
        EXPECT_FALSE(r.ret.boolean);
        EXPECT_EQ(Code(), 8);
    }
}

// GetWeight on an emulator device, which skips one reading in ten: true
// once a reading comes, the last code otherwise.
int32_t WeighEmulator(Component& c, const std::u16string& id) {
    int32_t code = -1;
    for (int attempt = 0; attempt < 5 && code != 0; ++attempt) {
        c.Call(u"GetWeight", {Value::Text(id), Value()});
        code = c.LastError();
    }
    return code;
}

TEST(SettingsDevices, InitWithoutAConnectionCreatesThemAndASecondInitReloads) {
    const std::string path = zel::host::BesideLibrary("settings.ini");
    ScopedFile settings(path, "[SCALES0]\r\nfNum=31\r\nfType=20\r\n");
    Component::Options noConnection;
    noConnection.connection = false;
    Component c(zel::host::DefaultLibraryPath(), noConnection);
    EXPECT_EQ(WeighEmulator(c, u"31"), 0);
    EXPECT_EQ(WeighEmulator(c, u"32"), 8);

    // The file changed: the next Init drops the old devices and creates the
    // new ones (up to the first missing section).
    WriteAll(path,
             "[SCALES0]\r\nfNum=32\r\nfType=20\r\n[SCALES1]\r\nfNum=33\r\nfType=20\r\n"
             "[SCALES3]\r\nfNum=34\r\nfType=20\r\n");
    EXPECT_FALSE(c.Init(false));
    EXPECT_EQ(WeighEmulator(c, u"31"), 8);
    EXPECT_EQ(WeighEmulator(c, u"32"), 0);
    EXPECT_EQ(WeighEmulator(c, u"33"), 0);
    EXPECT_EQ(WeighEmulator(c, u"34"), 8);
    EXPECT_TRUE(c.Init(true));
    EXPECT_EQ(WeighEmulator(c, u"32"), 0);
}

}  // namespace
