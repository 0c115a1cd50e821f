// Parameter values at the edges: coefficient texts without a number (from
// SetParameter and from settings.ini) and the keep-connection flag given as
// a Number.
#include <cmath>

#include "platform/files.h"
#include "platform/sys.h"
#ifndef _WIN32
#include <atomic>
#include <thread>

#include "platform/pty.h"
#endif
#include "tests/host/support.h"
#include "tests/unit/transport_test_util.h"

namespace zeltest {
namespace {

// GetWeight until the emulator answers (it skips about one reading in ten).
bool EmulatorWeight(Component& c, const std::u16string& id, double* weight) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        CallResult r = c.Call(u"GetWeight", {Value::Text(id), Value()});
        if (r.ok && r.ret.boolean) {
            *weight = r.params[1].number;
            return true;
        }
    }
    return false;
}

TEST_F(DriverTest, CoefficientSignWithoutANumber) {
    // A sign with nothing after it is no number: the coefficient stays 1.0,
    // never -0.0 (which would show every weight as "-0.000").
    for (const char16_t* text : {u"-", u"-abc", u" - ", u"-,", u"abc"}) {
        SCOPED_TRACE(U8(text));
        ASSERT_TRUE(c->SetParameter(u"coeff", Value::Text(u"7")));
        ASSERT_TRUE(c->SetParameter(u"coeff", Value::Text(text)));
        std::u16string id = OpenEmulator();
        ASSERT_TRUE(c->Call(u"SetPrice", {Value::Text(id), Value::Int(100000)}).ret.boolean);
        CallResult r;
        for (int attempt = 0; attempt < 20 && !(r.ok && r.ret.boolean); ++attempt)
            r = c->Call(u"GetWeightPriceCost", {Value::Text(id), Value(), Value(), Value(), Value()});
        ASSERT_TRUE(r.ret.boolean);
        // cost = 1000.00 a kilogram x the uncorrected weight.
        EXPECT_NEAR(r.params[1].number, r.params[3].number / 1000.0, 1e-4);
        c->Call(u"Close", {Value::Text(id)});
    }
    // A zero coefficient reads every weight as 0.000, without a sign.
    ASSERT_TRUE(c->SetParameter(u"model", Value::Int(20)));
    ASSERT_TRUE(c->SetParameter(u"coeff", Value::Text(u"0")));
    // Each DeviceTest seeds a new emulator with the time in whole seconds:
    // a missed answer repeats until the next second.
    std::string text;
    for (uint64_t end = platform::MonotonicMs() + 5000;
         text.rfind("Вес: ", 0) != 0 && platform::MonotonicMs() < end; platform::SleepMs(100))
        text = c->Call(u"DeviceTest", {Value(), Value()}).params[0].Utf8();
    EXPECT_EQ(text, "Вес:  0.000; ");
}

TEST(SettingsFile, CoefficientWithoutANumberGivesPlusZero) {
    // The settings file reads fCoeff as the C runtime does: no leading number
    // is 0.0, and a bare sign is no number either.
    ScopedFile settings(zel::host::BesideLibrary("settings.ini"),
                        "[SCALES0]\r\nfNum=1\r\nfType=20\r\nfCoeff=-\r\n"
                        "[SCALES1]\r\nfNum=2\r\nfType=20\r\nfCoeff=-abc\r\n"
                        "[SCALES2]\r\nfNum=3\r\nfType=20\r\nfCoeff=abc\r\n"
                        "[SCALES3]\r\nfNum=4\r\nfType=20\r\nfCoeff=-0\r\n"
                        "[SCALES4]\r\nfNum=5\r\nfType=20\r\nfCoeff=0.5\r\n");
    Component driver;  // Init reads settings.ini
    for (const char16_t* id : {u"1", u"2", u"3", u"4"}) {
        double weight = -1;
        ASSERT_TRUE(EmulatorWeight(driver, id, &weight)) << U8(id);
        EXPECT_EQ(weight, 0.0) << U8(id);
        EXPECT_FALSE(std::signbit(weight)) << "device " << U8(id) << " reads -0.0";
    }
    double half = 0;
    ASSERT_TRUE(EmulatorWeight(driver, u"5", &half));
    EXPECT_GT(half, 0.0);
    EXPECT_LE(half, 104.999 * 0.5 + 1e-9);
}

#ifndef _WIN32
// The scale side of model 10 on a pseudo-terminal: every request byte 'E'
// is answered with the weight 1234 (D2 04).
class MassaKResponder {
public:
    MassaKResponder() : master_(platform::PtyOpenMaster(&slave_)) {
        if (master_ != platform::kNoHandle) thread_ = std::thread([this] { Run(); });
    }
    ~MassaKResponder() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        platform::IoClose(master_);
    }
    bool Ok() const { return master_ != platform::kNoHandle; }
    const std::string& Slave() const { return slave_; }
    bool DriverHoldsLine() const { return platform::PtyPeerOpen(master_); }

private:
    void Run() {
        while (!stop_) {
            platform::WaitItem item{master_, platform::kWaitReadable, 0};
            platform::WaitHandles(&item, 1, 20);
            unsigned char buf[64];
            long n = platform::IoRead(master_, buf, sizeof buf);
            if (n <= 0) {
                if (n == platform::kIoClosed) platform::SleepMs(5);  // no client on the line
                continue;
            }
            for (long i = 0; i < n; ++i)
                if (buf[i] == 0x45) platform::IoWrite(master_, "\xD2\x04", 2);
        }
    }

    std::string slave_;
    int master_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(DriverTest, KeepConnectionGivenAsANumber) {
    MassaKResponder scale;
    ASSERT_TRUE(scale.Ok());
    ASSERT_TRUE(c->SetParameter(u"cbaudrate", Value::Int(9600)));
    struct {
        Value flag;
        bool keeps;
    } const rows[] = {
        {Value::Double(1.0), true}, {Value::Double(0.0), false}, {Value::Double(2.0), true},
        {Value::Double(-1.0), true}, {Value::Bool(true), true},  {Value::Bool(false), false},
        {Value::Int(1), true},      {Value::Int(0), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.flag.Describe());
        ASSERT_TRUE(c->SetParameter(u"conleave", row.flag));
        std::u16string id = OpenModel(10, zel::host::FromUtf8(scale.Slave()));
        ASSERT_EQ(Code(), 0);
        CallResult r = c->Call(u"GetWeight", {Value::Text(id), Value()});
        ASSERT_TRUE(r.ret.boolean) << Code();
        EXPECT_EQ(r.params[1].number, 1234.0);
        // With the flag the line stays open after the request.
        EXPECT_EQ(scale.DriverHoldsLine(), row.keeps);
        c->Call(u"Close", {Value::Text(id)});
        EXPECT_FALSE(scale.DriverHoldsLine());
    }
}
#endif

}  // namespace
}  // namespace zeltest
