// The simulated price-computing scales (17, 21, 28, 30): digit-field frames
// against hand-written bytes, what they recognise, and a price and a tare
// changing what a scale answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/pty.h"
#include "platform/sys.h"
#include "sim/Frames.h"
#include "sim/tests/sim_test_util.h"
#include "sim/Simulator.h"

namespace {

using simtest::Hex;
using simtest::B;

sim::Display Show(double weight, double price = 0, double cost = 0, int decimals = 3, bool negative = false) {
    sim::Display d = simtest::Show(weight, decimals);
    d.price = price;
    d.cost = cost;
    d.negative = negative;
    return d;
}

TEST(SimPriceComputing, Frames) {
    const struct {
        const char* name;
        int model;
        sim::Display display;
        const char* hex;
    } cases[] = {
        // weight 6, price 5, cost 6 characters, least significant first
        {"camry", 17, Show(1.234, 12.5, 13.8), "34 33 32 31 30 30 30 35 32 31 30 30 38 33 31 30 30"},
        {"jpl two decimals", 21, Show(1.2345, 0.01, 0, 2), "30 33 32 31 30 30 31 30 30 30 30 30 30 30 30 30 30"},
        {"jpl negative weight", 21, Show(-0.5, 2, -1), "30 30 35 30 30 2D 30 30 32 30 30 30 30 31 30 30 2D"},
        {"jpl minus forced on zero", 17, Show(0, 0, 0, 3, true), "30 30 30 30 30 2D 30 30 30 30 30 30 30 30 30 30 30"},
        {"camry clamps", 17, Show(5000, 2000, 1e7), "39 39 39 39 39 39 39 39 39 39 39 39 39 39 39 39 39"},
        // weight, price, cost 6 characters each, money in hundredths
        {"ics", 30, Show(1.234, 125, 154.25), "34 33 32 31 30 30 30 30 35 32 31 30 35 32 34 35 31 30"},
        // six digit values each; a negative reads 0
        {"uns2", 28, Show(1.234, 12.5, 15.43), "04 03 02 01 00 00 00 05 02 01 00 00 03 04 05 01 00 00"},
        {"uns2 negative", 28, Show(-2, 1, -2), "00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00"},
        {"uns2 clamps", 28, Show(1500, 0, 0), "09 09 09 09 09 09 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.hex, Hex(sim::EncodeFrame(c.model, c.display))) << c.name;
    }
    for (int model : {17, 21, 28, 30}) {
        const std::string good = sim::EncodeFrame(model, Show(1));
        EXPECT_EQ(good.substr(0, good.size() - 1), sim::BreakFrame(model, good)) << model;
        EXPECT_EQ(-1, sim::FrameHeader(model)) << model;
    }
    EXPECT_STREQ("8E2", sim::LineSettings(17));
    EXPECT_STREQ("8N1", sim::LineSettings(21));
    EXPECT_STREQ("8N1", sim::LineSettings(28));
    EXPECT_STREQ("8E1", sim::LineSettings(30));
}

TEST(SimPriceComputing, RecognisesRequestsAndCommands) {
    using K = sim::CommandMatcher;
    const struct {
        const char* name;
        int model;
        std::string input;
        std::vector<K::Kind> kinds;
        std::vector<long long> values;
    } cases[] = {
        {"camry request", 17, B({0, 0, 3, 0, 0, 0, 0, 0}), {K::Request}, {0}},
        {"camry takes no tare", 17, B({0, 0, 1}), {K::Unknown}, {0}},
        {"jpl price twice", 21, B({0, 0, 2, 0, 5, 2, 1, 0, 0, 0, 0, 2, 0, 5, 2, 1, 0, 0}), {K::Price, K::Price},
         {1250, 1250}},
        {"jpl tare then request", 21, B({0, 0, 1, 0, 0, 3, 0, 0, 0, 0, 0}), {K::Tare, K::Request}, {0, 0}},
        {"jpl short request is not one", 21, B({0, 0, 3, 0x2A}), {K::Unknown}, {0}},
        {"ics request, tare, ascii price", 30, B({0, 0, 3, 0, 0, 1, 0, 0, 2, '0', '5', '2', '1', '0', '0'}),
         {K::Request, K::Tare, K::Price}, {0, 0, 1250}},
        {"ics numeric price is not one", 30, B({0, 0, 2, 0, 5, 2, 1, 0, '0'}), {K::Unknown}, {0}},
        {"uns2", 28, B({0x2A, 3, 0x2A, 1, 0x2A, 2, 9, 9, 9, 9, 9, 0}), {K::Request, K::Tare, K::Price},
         {0, 0, 99999}},
    };
    for (const auto& c : cases) {
        K m(c.model);
        std::vector<K::Message> out;
        for (char ch : c.input) m.Feed(static_cast<uint8_t>(ch), &out);
        m.Flush(&out, true);
        ASSERT_EQ(c.kinds.size(), out.size()) << c.name;
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(c.kinds[i], out[i].kind) << c.name << " #" << i;
            if (c.kinds[i] != K::Unknown) {
                EXPECT_EQ(c.values[i], out[i].value) << c.name << " #" << i;
            }
        }
    }
}

std::string ReadFor(int h, size_t n, int timeoutMs) {
    std::string out;
    const uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    while (out.size() < n) {
        const uint64_t now = platform::MonotonicMs();
        if (now >= end) break;
        platform::WaitItem item{h, platform::kWaitReadable, 0};
        platform::WaitHandles(&item, 1, static_cast<int>(end - now));
        char buf[256];
        const long r = platform::IoRead(h, buf, n - out.size() < sizeof buf ? n - out.size() : sizeof buf);
        if (r < 0) break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

TEST(SimPriceComputing, PriceAndTareShowInTheReplies) {
    // Model 28 over TCP: the price sets what the replies show and the cost
    // follows; a tare takes the load off; neither command is answered.
    sim::Simulator s(28);
    s.SetWeight(2.0);
    ASSERT_TRUE(s.StartTcp());
    int h = platform::TcpConnect(s.TcpPort(), 1000);
    ASSERT_NE(platform::kNoHandle, h);
    const std::string request = B({0x2A, 0x03});
    const std::string price = B({0x2A, 0x02, 0, 5, 2, 1, 0, 0});
    ASSERT_EQ(8, platform::IoWrite(h, price.data(), price.size()));
    ASSERT_TRUE(s.WaitReceived(1, 1000));
    EXPECT_EQ("", ReadFor(h, 1, 100));
    EXPECT_DOUBLE_EQ(12.5, s.Price());
    ASSERT_EQ(2, platform::IoWrite(h, request.data(), request.size()));
    // 2000 g, 12.50, 25.00
    EXPECT_EQ("00 00 00 02 00 00 00 05 02 01 00 00 00 00 05 02 00 00", Hex(ReadFor(h, 18, 1000)));
    const std::string tare = B({0x2A, 0x01});
    ASSERT_EQ(2, platform::IoWrite(h, tare.data(), tare.size()));
    ASSERT_TRUE(s.WaitReceived(3, 1000));
    EXPECT_DOUBLE_EQ(2.0, s.Tare());
    ASSERT_EQ(2, platform::IoWrite(h, request.data(), request.size()));
    EXPECT_EQ("00 00 00 00 00 00 00 05 02 01 00 00 00 00 00 00 00 00", Hex(ReadFor(h, 18, 1000)));
    const auto log = s.Log();
    std::vector<sim::Record::Kind> kinds;
    for (const auto& r : log)
        if (r.kind != sim::Record::Sent) kinds.push_back(r.kind);
    EXPECT_EQ((std::vector<sim::Record::Kind>{sim::Record::Price, sim::Record::Request, sim::Record::Tare,
                                              sim::Record::Request}),
              kinds);
    platform::IoClose(h);
}

}  // namespace
