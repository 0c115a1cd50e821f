// The tool's reasons: what a failed reading's traffic says, an event-driven
// scale's line changes read from the traffic log as the driver writes it,
// and the advice lines (a TCP line is never sent to a COM port).
#include "tools/why.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sys.h"
#ifndef _WIN32
#include "platform/pty.h"
#endif
#include "transport/Log.h"

using zelscales::Heard;
using zelscales::LineWatch;
using zelscales::TrafficBlock;

namespace {

TrafficBlock Block(const char* direction, const std::string& bytes = std::string()) {
    TrafficBlock b;
    b.direction = direction;
    b.bytes.assign(bytes.begin(), bytes.end());
    return b;
}

TEST(ToolWhy, TrafficOfAFailedReading) {
    struct Case {
        const char* what;
        std::vector<TrafficBlock> blocks;
        Heard heard;
    };
    const std::vector<Case> cases = {
        {"log on, nothing passed (talking scale, line kept)", {}, Heard::kSilence},
        {"requests, no reply",
         {Block("open"), Block("sent", "\x05"), Block("sent", "\x11"), Block("close")},
         Heard::kSilence},
        {"a split request came back whole (a loopback plug)",
         {Block("open"), Block("sent", "\x05"), Block("sent", "\x11"), Block("received", "\x05\x11"), Block("close")},
         Heard::kEcho},
        {"three requests, three echoes",
         {Block("sent", "W"), Block("received", "W"), Block("sent", "W"), Block("received", "W"),
          Block("sent", "W"), Block("received", "W")},
         Heard::kEcho},
        {"an echo with a tail that makes no frame",
         {Block("sent", "W"), Block("received", "W\x02\x30")},
         Heard::kNoFrame},
        {"garbage at a wrong speed", {Block("sent", "\x05"), Block("received", "\xF0\x0F\xFF")}, Heard::kNoFrame},
        {"a talking scale at a wrong speed", {Block("open"), Block("received", "\x80\x80"), Block("close")},
         Heard::kNoFrame},
        {"an open that failed: nothing on the line", {Block("open failed")}, Heard::kSilence},
    };
    for (const Case& c : cases) EXPECT_EQ(zelscales::JudgeTraffic(&c.blocks), c.heard) << c.what;
    EXPECT_EQ(zelscales::JudgeTraffic(nullptr), Heard::kUnknown) << "no log";
}

TEST(ToolWhy, LineChangesOfAListener) {
    using C = LineWatch::Change;
    struct Case {
        const char* what;
        std::vector<const char*> directions;
        std::vector<C> changes;
    };
    const std::vector<Case> cases = {
        {"up and reading", {"open", "received", "sent", "received"}, {}},
        {"never opens: told once", {"open failed", "open failed", "open failed"}, {C::kCannotOpen}},
        {"never opens, then does", {"open failed", "open failed", "open"}, {C::kCannotOpen, C::kBack}},
        {"hang-up and at once back", {"open", "received", "close", "open", "received"}, {C::kLost, C::kBack}},
        {"opened before the watch began, then lost", {"received", "close", "open"}, {C::kLost, C::kBack}},
        {"lost for good: the reason once",
         {"open", "close", "open failed", "open failed", "open failed"},
         {C::kLost, C::kCannotOpen}},
        {"lost twice",
         {"open", "close", "open failed", "open", "close", "open failed", "open failed", "open"},
         {C::kLost, C::kCannotOpen, C::kBack, C::kLost, C::kCannotOpen, C::kBack}},
        {"a second close changes nothing", {"open", "close", "close", "open"}, {C::kLost, C::kBack}},
        {"other blocks are no change", {"sys", "sent"}, {}},
    };
    for (const Case& c : cases) {
        LineWatch watch;
        std::vector<TrafficBlock> blocks;
        for (const char* d : c.directions) blocks.push_back(Block(d));
        EXPECT_EQ(watch.Feed(blocks), c.changes) << c.what;
        // Fed one block at a time, the same.
        LineWatch single;
        std::vector<C> changes;
        for (const TrafficBlock& b : blocks)
            for (C change : single.Feed({b})) changes.push_back(change);
        EXPECT_EQ(changes, c.changes) << c.what << " (block by block)";
    }
}

zelscales::Options Serial(const char* port) {
    zelscales::Options o;
    o.model = 13;
    o.port = port;
    return o;
}

zelscales::Options Tcp(const char* host, int port) {
    zelscales::Options o;
    o.model = 13;
    o.host = host;
    o.tcpPort = port;
    return o;
}

TEST(ToolWhy, AdviceLines) {
    using platform::LineFault;
    struct Case {
        zelscales::Options options;
        LineFault fault;
        const char* group;
        std::vector<const char*> holds;
    };
    const std::vector<Case> cases = {
        {Serial("/dev/ttyUSB9"), LineFault::kNoSuchPort, "", {"cannot open /dev/ttyUSB9: no such port", "zelscales ports"}},
        {Serial("/dev/ttyS0"), LineFault::kDenied, "dialout", {"permission denied", "join the group dialout", "usermod -aG dialout"}},
        {Serial("/dev/ttyS0"), LineFault::kDenied, "root", {"permission denied", "read and write access"}},
        {Serial("/dev/ttyS0"), LineFault::kDenied, "", {"permission denied", "read and write access"}},
        {Serial("COM3"), LineFault::kBusy, "", {"cannot open COM3: busy", "close the program"}},
        {Serial("/tmp/x"), LineFault::kNotSerial, "", {"not a serial port"}},
        {Tcp("10.0.0.9", 20108), LineFault::kRefused, "", {"cannot connect to 10.0.0.9:20108: connection refused", "--tcp-port"}},
        {Tcp("10.0.0.9", 20108), LineFault::kUnreachable, "", {"host unreachable", "network"}},
        {Tcp("10.0.0.9", 20108), LineFault::kTimedOut, "", {"timed out", "firewall"}},
        {Tcp("scale.local", 1), LineFault::kNoSuchHost, "", {"scale.local:1: no such host", "--host"}},
        {Tcp("10.0.0.9", 20108), LineFault::kNone, "", {"could not connect to 10.0.0.9:20108", "try again"}},
    };
    for (const Case& c : cases) {
        platform::LineProbe p;
        p.fault = c.fault;
        p.group = c.group;
        const std::string line = zelscales::OpenAdvice(c.options, p);
        for (const char* part : c.holds) EXPECT_NE(line.find(part), std::string::npos) << line << " / " << part;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        if (!c.options.host.empty()) {
            EXPECT_EQ(line.find("COM"), std::string::npos) << line;
            EXPECT_EQ(line.find("port name"), std::string::npos) << line;
            EXPECT_EQ(line.find("zelscales ports"), std::string::npos) << line;
        }
    }

    // Readings: silence is told from bytes without a frame; TCP is not
    // sent to a COM port.
    struct Reading {
        zelscales::Options options;
        int32_t code;
        Heard heard;
        const char* holds;
    };
    const std::vector<Reading> readings = {
        {Serial("/dev/ttyUSB0"), 3, Heard::kSilence, "no byte came from the scale on /dev/ttyUSB0"},
        {Tcp("10.0.0.9", 20108), 3, Heard::kSilence, "no byte came from 10.0.0.9:20108"},
        {Serial("/dev/ttyUSB0"), 3, Heard::kNoFrame, "made no frame of model 13: a wrong speed or model? `zelscales detect`"},
        {Tcp("10.0.0.9", 20108), 3, Heard::kNoFrame, "made no frame of model 13"},
        {Serial("/dev/ttyUSB0"), 3, Heard::kEcho, "only the request came back"},
        {Serial("/dev/ttyUSB0"), 3, Heard::kUnknown, "zelscales detect"},
        {Serial("/dev/ttyUSB0"), 7, Heard::kUnknown, "overload"},
        {Serial("/dev/ttyUSB0"), 2, Heard::kUnknown, "serial line failed"},
        {Serial("/dev/ttyUSB0"), 1, Heard::kUnknown, "did not open"},
    };
    for (const Reading& r : readings) {
        const std::string line = zelscales::ReadingAdvice(r.options, r.code, r.heard, nullptr);
        EXPECT_NE(line.find(r.holds), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        if (!r.options.host.empty()) {
            EXPECT_EQ(line.find("port name"), std::string::npos) << line;
        }
    }
}

#ifndef _WIN32

// The traffic log read while it is written, as the driver writes it: a
// block is taken as soon as it holds all its bytes, not when the next one
// begins; the tap never writes beside the library.
TEST(ToolWhy, TrafficTapFollowsTheLog) {
    const std::string dir = platform::MakePrivateTempDir("zel-tap-");
    ASSERT_FALSE(dir.empty());
    const std::string library = dir + "/ZelvatScalesNativeDriver.so", log = dir + "/log_scales_A1.log";
    const std::string line = zel::TrafficComLine("/dev/ttyUSB0", 9600, 0, 8, 0, 0, 0);
    const platform::LocalTime t = platform::Now();
    auto block = [&](int direction, const std::string& bytes) {
        return zel::TrafficBlock(direction, reinterpret_cast<const unsigned char*>(bytes.data()),
                                 static_cast<int32_t>(bytes.size()), line, t);
    };
    {
        zelscales::TrafficTap off(library);
        EXPECT_FALSE(off.On());
        off.Follow("A1");
        EXPECT_EQ(off.Take(), nullptr) << "no log: nothing to tell";
    }
    {
        EXPECT_FALSE(platform::FileExists(dir + "/log.txt")) << "a tap never switches logging on";
        std::ofstream(dir + "/log.txt") << "\n";
        zelscales::TrafficTap tap(library);
        ASSERT_TRUE(tap.On());
        std::ofstream(log, std::ios::binary) << block(0, "OPEN") << block(0, "CLOSE");
        tap.Follow("A1");
        std::unique_ptr<std::vector<TrafficBlock>> taken = tap.Take();
        ASSERT_NE(taken, nullptr);
        EXPECT_TRUE(taken->empty()) << "what was there before Follow is not taken";

        struct Step {
            std::string text;
            std::vector<const char*> directions;
        };
        const std::string request = block(1, "\x05"), reply = block(2, std::string(30, 'w'));
        const std::vector<Step> steps = {
            {block(0, "OPEN"), {"open"}},
            {request.substr(0, 40), {}},                    // a header cut short
            {request.substr(40), {"sent"}},
            {reply.substr(0, reply.size() - 30), {}},       // the second row not yet there
            {reply.substr(reply.size() - 30), {"received"}},
            {block(0, "ERROR_OPEN") + block(0, "CLOSE"), {"open failed", "close"}},
        };
        for (const Step& s : steps) {
            std::ofstream(log, std::ios::binary | std::ios::app) << s.text;
            taken = tap.Take();
            ASSERT_NE(taken, nullptr);
            std::vector<std::string> got, want(s.directions.begin(), s.directions.end());
            for (const TrafficBlock& b : *taken) got.push_back(b.direction);
            EXPECT_EQ(got, want) << s.text;
        }
        // A new log under the same name is read from its start.
        std::ofstream(log, std::ios::binary) << block(0, "OPEN");
        taken = tap.Take();
        ASSERT_NE(taken, nullptr);
        ASSERT_EQ(taken->size(), 1u);
        EXPECT_EQ((*taken)[0].direction, "open");
    }
    EXPECT_TRUE(platform::FileExists(dir + "/log.txt")) << "the user's marker stays";
    EXPECT_TRUE(platform::FileExists(log)) << "the user's log stays";
    std::remove((dir + "/log.txt").c_str());
    std::remove(log.c_str());
    std::remove(dir.c_str());
}

#endif

}  // namespace
