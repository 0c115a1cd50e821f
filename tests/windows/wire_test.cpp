// The Windows library, loaded through the host layer under Wine, weighing
// simulated scales that run natively on the other end of a COM port (a
// pseudo-terminal mapped into Wine) or of a TCP connection.
//
// The script that starts the simulators describes them in ZEL_WIRE_CASES,
// one case per ';'-separated item: "model,com|tcp,address,expect", where the
// address is a port name ("\\.\COM7") or a TCP port on 127.0.0.1, and expect
// is the weight the driver must report, "E<code>" for an expected failure, or
// "P<weight>" for an event-driven scale that pushes readings on its own
// ("P<weight>:<text>" when the data line ends with a scanned text).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "host/Component.h"
#include "platform/sys.h"
#include "platform/window_catcher.h"
#include "tests/skip_or_fail.h"

using zel::host::Component;
using zel::host::FromUtf8;
using zel::host::Value;

namespace {

struct WireCase {
    int model = 0;
    bool tcp = false;
    std::string address;
    bool expectFailure = false;
    bool pushed = false;
    std::string scanned;  // "P<weight>:<text>": the scanned text closing the data line
    int expectedCode = 0;
    double expectedWeight = 0;
    std::string text;  // as given, for messages
};

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

bool ParseCase(const std::string& item, WireCase* c) {
    std::vector<std::string> f = Split(item, ',');
    if (f.size() != 4 || (f[1] != "com" && f[1] != "tcp") || f[2].empty() || f[3].empty()) return false;
    char* end = nullptr;
    c->model = static_cast<int>(std::strtol(f[0].c_str(), &end, 10));
    if (*end) return false;
    c->tcp = f[1] == "tcp";
    c->address = f[2];
    c->text = item;
    if (f[3][0] == 'E') {
        c->expectFailure = true;
        c->expectedCode = static_cast<int>(std::strtol(f[3].c_str() + 1, &end, 10));
    } else if (f[3][0] == 'P') {
        c->pushed = true;
        c->expectedWeight = std::strtod(f[3].c_str() + 1, &end);
        if (*end == ':') {
            c->scanned = end + 1;
            end += std::strlen(end);
        }
    } else {
        c->expectedWeight = std::strtod(f[3].c_str(), &end);
    }
    return *end == 0;
}

std::vector<WireCase> CasesFromEnvironment(std::string* error) {
    std::vector<WireCase> cases;
    const char* env = std::getenv("ZEL_WIRE_CASES");
    if (!env || !*env) return cases;
    for (const std::string& item : Split(env, ';')) {
        if (item.empty()) continue;
        WireCase c;
        if (!ParseCase(item, &c)) {
            *error = "bad case '" + item + "'";
            return {};
        }
        cases.push_back(c);
    }
    return cases;
}

// One driver component set up for a case's scale, the line released after
// every request as in the driver's default.
std::u16string OpenScale(Component& c, const WireCase& w) {
    c.SetParameter(u"model", Value::Int(w.model));
    c.SetParameter(u"conleave", Value::Bool(false));
    if (w.tcp) {
        c.SetParameter(u"conntype", Value::Int(1));
        c.SetParameter(u"ehost", Value::Text(u"127.0.0.1"));
        c.SetParameter(u"eport", Value::Int(std::atoi(w.address.c_str())));
    } else {
        c.SetParameter(u"conntype", Value::Int(0));
        c.SetParameter(u"cport", Value::Text(FromUtf8(w.address)));
        c.SetParameter(u"cbaudrate", Value::Int(9600));
    }
    return c.Open();
}

TEST(WindowsWire, ScalesOnComPortsAndTcp) {
    std::string error;
    const std::vector<WireCase> cases = CasesFromEnvironment(&error);
    ASSERT_TRUE(error.empty()) << error;
    if (cases.empty()) ZEL_SKIP_OR_FAIL("ZEL_WIRE_CASES not set: no simulated scales to weigh");
    std::printf("weighing %u simulated scales\n", static_cast<unsigned>(cases.size()));

    // Under a display (the test script runs Wine under Xvfb) a hidden
    // top-level window receives the readings' window-message broadcast.
    const char* wantMessages = std::getenv("ZEL_EXPECT_WINDOW_MESSAGES");
    for (const WireCase& w : cases) {
        SCOPED_TRACE(w.text);
        platform::WindowMessageCatcher catcher;
        const bool catching = w.pushed && catcher.Start("WM_UPDATE_ZELVATSCALES1CDRIVER_V3_0_0");
        if (w.pushed && wantMessages && *wantMessages == '1') {
            EXPECT_TRUE(catching) << "no window for the broadcast";
        }
        Component c;
        const uint64_t start = platform::MonotonicMs();
        const std::u16string id = OpenScale(c, w);
        const int32_t openCode = c.LastError();
        if (w.expectFailure && openCode != 0) {
            EXPECT_EQ(openCode, w.expectedCode);
            EXPECT_LT(platform::MonotonicMs() - start, 5000u);
            continue;
        }
        ASSERT_EQ(openCode, 0);
        ASSERT_FALSE(id.empty());

        if (w.pushed) {
            // The listener thread raises each reading as an external event:
            // "%6.3f;" weight first, the device ID last (then the scanned
            // text, for a scale with a scanner).
            char weight[32];
            std::snprintf(weight, sizeof weight, "%6.3f;", w.expectedWeight);
            std::string tail = zel::host::ToUtf8(id) + ";";
            if (!w.scanned.empty()) tail += w.scanned + ";";
            bool seen = false;
            const uint64_t until = platform::MonotonicMs() + 4000;
            zel::host::ExternalEvent e;
            while (!seen && platform::MonotonicMs() < until && c.WaitEvent(&e, 500)) {
                const std::string data = zel::host::ToUtf8(e.data);
                EXPECT_EQ(zel::host::ToUtf8(e.source), "EventScales");
                EXPECT_EQ(zel::host::ToUtf8(e.message), "NewData");
                seen = data.compare(0, std::strlen(weight), weight) == 0 && data.size() >= tail.size() &&
                       data.compare(data.size() - tail.size(), tail.size(), tail) == 0;
                if (!seen) ADD_FAILURE() << "unexpected event data '" << data << "'";
            }
            EXPECT_TRUE(seen) << "no reading pushed within 4 s";
            if (catching) {
                // wParam is the weight in grams; model 5 sends no second value.
                const uint32_t grams = static_cast<uint32_t>(static_cast<int64_t>(w.expectedWeight * 1000 + 0.5));
                uint32_t wParam = 0, lParam = 0;
                bool caught = false;
                while (!caught && catcher.Wait(&wParam, &lParam, 2000)) caught = wParam == grams;
                EXPECT_TRUE(caught) << "no window message with wParam " << grams;
                if (caught) std::printf("model %d: window message wParam %u lParam %u\n", w.model, wParam, lParam);
                if (caught && (w.model == 5 || w.model == 6)) {
                    EXPECT_EQ(lParam, 0u);
                }
            }
            // Closing stops the listener within its current read wait.
            const uint64_t t0 = platform::MonotonicMs();
            auto closed = c.Call(u"Close", {Value::Text(id)});
            EXPECT_TRUE(closed.ok && closed.ret.boolean);
            EXPECT_LT(platform::MonotonicMs() - t0, 3000u);
            continue;
        }

        // A reading twice: the line is closed after each request and must
        // reopen. A silent scale once: it costs the whole budget.
        const int rounds = w.expectFailure ? 1 : 2;
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(round);
            const uint64_t t0 = platform::MonotonicMs();
            auto r = c.Call(u"GetWeight", {Value::Text(id), Value()});
            const uint64_t took = platform::MonotonicMs() - t0;
            const int32_t code = c.LastError();
            ASSERT_EQ(r.params.size(), 2u);
            if (w.expectFailure) {
                EXPECT_FALSE(r.ok && r.ret.boolean);
                EXPECT_EQ(code, w.expectedCode);
                // Three attempts, each spending its 500 ms budget in empty
                // reads, with room above for a loaded machine.
                EXPECT_GE(took, 1400u);
                EXPECT_LT(took, 5000u);
            } else {
                EXPECT_TRUE(r.ok && r.ret.boolean);
                EXPECT_EQ(code, 0);
                EXPECT_NEAR(r.params[1].number, w.expectedWeight, 1e-9);
                EXPECT_LT(took, 2000u);
            }
        }
        auto closed = c.Call(u"Close", {Value::Text(id)});
        EXPECT_TRUE(closed.ok && closed.ret.boolean);
    }
}

}  // namespace
