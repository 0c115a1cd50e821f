// The listener framework without a scale: window-message values, the
// operations the platform calls, and thread start and stop on a line that
// cannot be opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "platform/pty.h"
#include "platform/sync.h"
#include "platform/sys.h"
#include "devices/ModelTable.h"
#include "scales/IScalesObject.h"
#include "scales/listener/ListenerScale.h"
#include "tests/unit/transport_test_util.h"

using zel::listener::TareMessageParam;
using zel::listener::WeightMessageParam;

TEST(ListenerMessage, WeightInGrams) {
    struct Case {
        const char* name;
        double kg;
        uint32_t wParam;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"1.234 kg", 1.234, 1234},
        {"123.45 kg", 123.45, 123450},
        {"binary error does not lose a gram", 4.007, 4007},
        {"fractions of a gram truncate", 0.0019, 1},
        {"negative is two's complement", -1.5, 0xFFFFFA24u},
        {"negative fraction truncates toward zero", -0.0009, 0},
        {"2000000 kg still in grams", 2000000.0, 2000000000u},
        {"above 2000000 kg in whole kilograms", 2000000.5, 2000000u},
        {"far above", 3.5e9, 2147483647u},
        {"hugely negative saturates", -3e6, 0x80000000u},
        {"infinite", inf, 2147483647u},
        {"not a number", nan, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(WeightMessageParam(c.kg), c.wParam) << c.name;
}

TEST(ListenerMessage, TareInGrams) {
    struct Case {
        double kg;
        uint32_t lParam;
    };
    const Case cases[] = {{0.5, 500}, {65.535, 65535}, {0.0, 0}, {-0.25, 0xFFFFFF06u}, {1e12, 2147483647u}};
    for (const Case& c : cases) EXPECT_EQ(TareMessageParam(c.kg), c.lParam) << c.kg;
}

namespace {

std::unique_ptr<IScalesObject> Make(int model) { return std::unique_ptr<IScalesObject>(CreateScalesObject(model)); }

CScalesListener* AsListener(IScalesObject* object) { return dynamic_cast<CScalesListener*>(object); }

const char kMissingPort[] = "/dev/zel-no-such-port";

}  // namespace

TEST(ListenerObject, FactoryMakesTheEventModels) {
    for (int model : {5, 15, 22, 32}) {
        auto object = Make(model);
        ASSERT_NE(object, nullptr) << model;
        EXPECT_NE(AsListener(object.get()), nullptr) << model;
    }
    EXPECT_EQ(AsListener(Make(20).get()), nullptr);
}

TEST(ListenerObject, CommandResults) {
    struct Case {
        int model;
        int32_t tare, zero;
        int32_t price0, price99999, price100000, priceMinus1;
    };
    const Case cases[] = {
        {5, 5, 5, 0, 0, 0, 0},
        {32, 0, 5, 0, 0, 0, 0},
        {15, 5, 5, 5, 5, 5, 5},
        {22, 0, 5, 0, 0, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        auto object = Make(c.model);
        EXPECT_EQ(object->Tare(0.0), c.tare);
        EXPECT_EQ(object->Zero(), c.zero);
        EXPECT_EQ(object->SendPrice(0), c.price0);
        EXPECT_EQ(object->SendPrice(99999), c.price99999);
        EXPECT_EQ(object->SendPrice(100000), c.price100000);
        EXPECT_EQ(object->SendPrice(-1), c.priceMinus1);
        // Tare values that do not fit 32 bits must not be undefined.
        object->Tare(1e300);
        object->Tare(-1e300);
        object->Tare(std::numeric_limits<double>::quiet_NaN());
        double weight = -1, price = -1, cost = -1;
        int32_t stable = -1;
        EXPECT_EQ(object->ReadWeight(weight, price, cost, stable), 5);
        EXPECT_EQ(weight, -1);  // nothing written
        EXPECT_EQ(stable, -1);
    }
}

TEST(ListenerObject, OpenOnMissingPortListensAndStopsPromptly) {
    for (int model : {5, 15, 22, 32}) {
        SCOPED_TRACE(model);
        auto object = Make(model);
        object->SetDeviceId("T1");
        EXPECT_EQ(object->OpenCom(kMissingPort, 9600, nullptr), 0);
        object->Disconnect();
        CScalesListener* listener = AsListener(object.get());
        EXPECT_TRUE(listener->Listening());
        platform::SleepMs(120);
        EXPECT_TRUE(listener->Listening());
        // A second open replaces the thread.
        EXPECT_EQ(object->OpenCom(kMissingPort, 4800, nullptr), 0);
        EXPECT_TRUE(listener->Listening());
        uint64_t start = platform::MonotonicMs();
        object.reset();
        EXPECT_LT(platform::MonotonicMs() - start, 2000u);
    }
}

TEST(ListenerObject, NoListenerWithoutAName) {
    auto object = Make(5);
    EXPECT_EQ(object->OpenCom(nullptr, 9600, nullptr), 1);
    EXPECT_FALSE(AsListener(object.get())->Listening());
    EXPECT_EQ(object->OpenTcp(nullptr, 5001, nullptr), 1);
    EXPECT_FALSE(AsListener(object.get())->Listening());
    std::string tooLong(300, 'x');
    EXPECT_EQ(object->OpenCom(tooLong.c_str(), 9600, nullptr), 1);
    EXPECT_FALSE(AsListener(object.get())->Listening());
}

namespace {

// A listener that counts its reconnection attempts: each cycle on a line
// that is not open begins with one.
class CountingListener : public CScalesListener {
public:
    enum class Connect { Real, Fails, NoLine };
    explicit CountingListener(Connect mode) : mode_(mode) {}
    ~CountingListener() override { Shutdown(); }

    int32_t EnsureConnected() override {
        ++attempts;
        if (mode_ == Connect::Fails) return 1;
        if (mode_ == Connect::NoLine) return 0;  // "connected", yet no line to read
        return CScalesListener::EnsureConnected();
    }
    int32_t Tare(double) override { return 5; }
    int32_t Zero() override { return 5; }
    int32_t SendPrice(int32_t) override { return 0; }
    void Poke() { WakeListener(); }

    std::atomic<int> attempts{0};

protected:
    int FrameLength() const override { return 7; }
    Next HandleFrame(const uint8_t*, int) override { return Next::Pause; }

private:
    Connect mode_;
};

// Attempts within `ms`, with the platform's thread waking the listener every
// 20 ms as a burst of commands would.
int AttemptsWithin(CountingListener& listener, unsigned ms, bool poke) {
    const int before = listener.attempts;
    const uint64_t end = platform::MonotonicMs() + ms;
    while (platform::MonotonicMs() < end) {
        platform::SleepMs(20);
        if (poke) listener.Poke();
    }
    return listener.attempts - before;
}

}  // namespace

TEST(ListenerObject, UnpluggedLineIsRetriedEveryPauseNotSpun) {
    // A listener that cannot reach its line tries again after each 100 ms
    // pause: about ten attempts a second. A pause that came back at once
    // with no line to wait on would spin a core, thousands a second; the
    // bounds stand a loaded machine either way.
    struct Case {
        const char* name;
        CountingListener::Connect mode;
        bool poke;
    };
    const Case cases[] = {
        {"the port cannot be opened", CountingListener::Connect::Fails, false},
        {"the port opens without a line", CountingListener::Connect::NoLine, false},
        {"commands flagged while it cannot be opened", CountingListener::Connect::Fails, true},
        {"a port that does not exist", CountingListener::Connect::Real, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CountingListener listener(c.mode);
        ASSERT_EQ(listener.OpenCom(kMissingPort, 9600, nullptr), 0);
        listener.Disconnect();
        platform::SleepMs(50);
        const int attempts = AttemptsWithin(listener, 1000, c.poke);
        EXPECT_GE(attempts, 2);
        EXPECT_LE(attempts, 25);
        // A reopen stops the listener, pause or not (how promptly is
        // StopCutsTheReconnectPauseShort's).
        const uint64_t start = platform::MonotonicMs();
        ASSERT_EQ(listener.OpenCom(kMissingPort, 9600, nullptr), 0);
        EXPECT_LT(platform::MonotonicMs() - start, 2000u);
    }
}

TEST(ListenerObject, StopCutsTheReconnectPauseShort) {
    // A listener that cannot open its port spends its time in the 100 ms
    // pause between attempts. Stopped just as an attempt failed, a pause
    // that ignored the stop would cost nearly all of it; cut short, a stop
    // costs the thread's own wake-up. The median stands a busy machine's
    // occasional stall.
    std::vector<uint64_t> stops;
    for (int i = 0; i < 9; ++i) {
        auto listener = std::make_unique<CountingListener>(CountingListener::Connect::Fails);
        ASSERT_EQ(listener->OpenCom(kMissingPort, 9600, nullptr), 0);
        const uint64_t waitEnd = platform::MonotonicMs() + 2000;
        while (listener->attempts < 2 && platform::MonotonicMs() < waitEnd) platform::SleepMs(1);
        const int attempt = listener->attempts;
        while (listener->attempts == attempt && platform::MonotonicMs() < waitEnd) platform::SleepMs(1);
        ASSERT_GE(listener->attempts, 2);
        const uint64_t start = platform::MonotonicMs();
        listener.reset();
        stops.push_back(platform::MonotonicMs() - start);
    }
    std::sort(stops.begin(), stops.end());
    EXPECT_LT(stops[stops.size() / 2], 50u) << "median stop";
    EXPECT_LT(stops.back(), 2000u);
}

#ifndef _WIN32
TEST(ListenerObject, LineThatHangsUpIsRetriedEveryPause) {
    // A scale whose adapter is unplugged while the listener holds its line.
    zeltest::Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    CountingListener listener(CountingListener::Connect::Real);
    ASSERT_EQ(listener.OpenCom(pty.slave.c_str(), 9600, nullptr), 0);
    for (int i = 0; i < 100 && !platform::PtyPeerOpen(pty.master); ++i) platform::SleepMs(10);
    ASSERT_TRUE(platform::PtyPeerOpen(pty.master));
    pty.Hangup();
    platform::SleepMs(100);
    const int attempts = AttemptsWithin(listener, 1000, false);
    EXPECT_GE(attempts, 2);
    EXPECT_LE(attempts, 25);
}
#endif

#ifndef _WIN32
namespace {

// The platform connection as far as the listener uses it: counts the events
// and runs a hook on the listener's thread inside ExternalEvent.
class CountingConnection : public zel::IPlatformEvents {
public:
    std::atomic<int> events{0};
    std::function<void()> onEvent;

    bool ExternalEvent(const char16_t*, const char16_t*, const char16_t*) override {
        ++events;
        if (onEvent) onEvent();
        return true;
    }
};

// 1.234 kg in a model 5 frame.
const char kVn220Frame[] = {0x3C, 0x00, 0x00, 0x12, 0x34, 0x03, 0x3E};

// What the driver wrote to the scale within `ms`.
std::string ReadMaster(int master, int ms) {
    std::string out;
    const uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(ms);
    for (;;) {
        const uint64_t now = platform::MonotonicMs();
        if (now >= end) break;
        platform::WaitItem item{master, platform::kWaitReadable, 0};
        platform::WaitHandles(&item, 1, static_cast<int>(end - now));
        char buf[64];
        long n = platform::IoRead(master, buf, sizeof buf);
        if (n > 0) out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

}  // namespace

TEST(ListenerObject, StopAsItsFrameCompletesPublishesThatFrameOnly) {
    // The close is requested the moment the frame is complete (from inside
    // its event, before the listener goes on), while a second frame already
    // waits on the line: that frame is still published, nothing is read
    // after the stop and the scale is not acknowledged.
    zeltest::Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    std::unique_ptr<IScalesObject> object = Make(5);
    struct Closer {
        std::unique_ptr<IScalesObject>* object;
        std::atomic<bool> started{false};
        static void Run(void* p) {
            auto* c = static_cast<Closer*>(p);
            c->started = true;
            c->object->reset();
        }
    } closer{&object};
    platform::Thread closerThread;
    std::atomic<bool> armed{false}, launched{false};
    CountingConnection connection;
    connection.onEvent = [&] {
        if (!armed.exchange(false)) return;
        ASSERT_TRUE(closerThread.Start(&Closer::Run, &closer));
        launched = true;  // the thread object is set: the test may join it
        while (!closer.started) platform::SleepMs(1);
        platform::SleepMs(200);  // the stop is requested by now
    };
    object->SetDeviceId("T1");
    ASSERT_EQ(object->OpenCom(pty.slave.c_str(), 9600, &connection), 0);

    // Once the listener holds the line, a first frame comes back as an event
    // and is acknowledged.
    for (int attempt = 0; attempt < 30 && connection.events == 0; ++attempt) {
        platform::SleepMs(100);
        platform::IoWrite(pty.master, kVn220Frame, sizeof kVn220Frame);
        ReadMaster(pty.master, 200);
    }
    ASSERT_GE(connection.events, 1);
    ReadMaster(pty.master, 400);  // its acknowledgement
    const int before = connection.events;

    armed = true;
    std::string two(kVn220Frame, sizeof kVn220Frame);
    two += two;
    platform::IoWrite(pty.master, two.data(), two.size());
    for (int i = 0; i < 300 && !launched; ++i) platform::SleepMs(10);
    ASSERT_TRUE(launched);
    closerThread.Join();
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(connection.events - before, 1);
    EXPECT_EQ(ReadMaster(pty.master, 100), "") << "no acknowledgement after the stop";
}
#endif
