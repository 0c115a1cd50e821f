// One device's line seen from outside: the traffic log of one exchange, block
// by block, and a device test on a line an open device already uses.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/net.h"
#include "tests/integration/polled_support.h"
#include "tests/unit/transport_test_util.h"

using zeltest::PolledRig;
using zeltest::Weighing;
using zeltest::Wire;

namespace {

// One block of a traffic log: its direction, its time of day in ms and its
// bytes in hex ("05", "4F 50 45 4E").
struct Block {
    std::string direction;  // SYS, OUT, IN
    long long atMs;
    std::string hex;
};

std::vector<Block> Blocks(const std::string& log) {
    static const std::regex header(
        R"(^(SYS|OUT|IN)[^\r\n]*?  \d{4}-\d{2}-\d{2} (\d{2}):(\d{2}):(\d{2})\.(\d{3}) ---- Bytes:)");
    static const std::regex row(R"(^\d{5}:)");
    std::vector<Block> blocks;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find("\r\n", at);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(at, end - at);
        at = end + 2;
        std::smatch m;
        if (std::regex_search(line, m, header)) {
            long long ms = ((std::stoll(m[2]) * 60 + std::stoll(m[3])) * 60 + std::stoll(m[4])) * 1000 + std::stoll(m[5]);
            blocks.push_back({m[1], ms, ""});
        } else if (!blocks.empty() && std::regex_search(line, row)) {
            // Twenty three-character columns and the separator after ten,
            // then the bytes as text.
            static const std::regex pair("[0-9A-F]{2}");
            const std::string cells = line.substr(6, 62);
            for (std::sregex_iterator it(cells.begin(), cells.end(), pair), none; it != none; ++it) {
                if (!blocks.back().hex.empty()) blocks.back().hex += ' ';
                blocks.back().hex += it->str();
            }
        }
    }
    return blocks;
}

std::string Summary(const std::vector<Block>& blocks) {
    std::string s;
    for (const Block& b : blocks) s += b.direction + " " + b.hex + "\n";
    return s;
}

const char kOpen[] = "4F 50 45 4E";
const char kClose[] = "43 4C 4F 53 45";
const char kErrorOpen[] = "45 52 52 4F 52 5F 4F 50 45 4E";

TEST(TrafficLog, OneCasExchangeWithTheLineReleased) {
    zeltest::HeldMarker marker(zel::host::BesideLibrary("log.txt"));
    PolledRig rig(13, Wire::Pty, /*keepConnection=*/false);
    ASSERT_EQ(rig.openCode, 0);
    rig.sim.SetWeight(1.5);
    ASSERT_EQ(rig.Weigh().code, 0);
    const std::string path = zel::host::BesideLibrary("log_scales_" + zel::host::ToUtf8(rig.id) + ".log");
    rig.component.reset();
    const std::vector<Block> blocks = Blocks(zeltest::ReadAll(path));
    platform::RemoveFile(path);
    SCOPED_TRACE(Summary(blocks));
    // The open's own connection, then the request's: open, the two request
    // bytes 150 ms apart, the reply (in one or more pieces), close.
    ASSERT_GE(blocks.size(), 7u);
    EXPECT_EQ(blocks[0].direction + " " + blocks[0].hex, std::string("SYS ") + kOpen);
    EXPECT_EQ(blocks[1].direction + " " + blocks[1].hex, std::string("SYS ") + kClose);
    EXPECT_EQ(blocks[2].direction + " " + blocks[2].hex, std::string("SYS ") + kOpen);
    EXPECT_EQ(blocks[3].direction + " " + blocks[3].hex, "OUT 05");
    EXPECT_EQ(blocks[4].direction + " " + blocks[4].hex, "OUT 11");
    EXPECT_GE(blocks[4].atMs - blocks[3].atMs, 149);  // stamps are cut to the millisecond
    std::string reply;
    size_t i = 5;
    for (; i < blocks.size() && blocks[i].direction == "IN"; ++i) reply += (reply.empty() ? "" : " ") + blocks[i].hex;
    EXPECT_EQ(reply, "06 01 02 53 20 20 31 2E 35 30 30 6B 67 75 03 04");
    ASSERT_EQ(i + 1, blocks.size()) << "only the close after the reply";
    EXPECT_EQ(blocks[i].direction + " " + blocks[i].hex, std::string("SYS ") + kClose);
}

TEST(TrafficLog, RefusedOpen) {
    // A refused TCP connect logs the failure, then the close of the socket
    // it made; a serial port that cannot be opened leaves no line to close.
    struct Case {
        const char* name;
        bool tcp;
        std::vector<std::string> blocks;
    };
    const Case cases[] = {
        {"TCP refused", true, {std::string("SYS ") + kErrorOpen, std::string("SYS ") + kClose}},
        {"serial port missing", false, {std::string("SYS ") + kErrorOpen}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        using zel::host::Value;
        zeltest::HeldMarker marker(zel::host::BesideLibrary("log.txt"));
        std::string path;
        {
            zel::host::Component driver;
            driver.SetParameter(u"model", Value::Int(13));
            if (c.tcp) {
                uint16_t port = 0;
                platform::SocketHandle s = platform::ListenLoopback(0, &port);
                platform::CloseSocket(s);
                driver.SetParameter(u"conntype", Value::Int(1));
                driver.SetParameter(u"ehost", Value::Text(u"127.0.0.1"));
                driver.SetParameter(u"eport", Value::Int(port));
            } else {
                driver.SetParameter(u"conntype", Value::Int(0));
                driver.SetParameter(u"cport", Value::Text(u"/dev/zel-no-such-port"));
            }
            std::u16string id = driver.Open();
            EXPECT_EQ(driver.LastError(), 1);
            path = zel::host::BesideLibrary("log_scales_" + zel::host::ToUtf8(id) + ".log");
        }
        std::vector<std::string> seen;
        for (const Block& b : Blocks(zeltest::ReadAll(path))) seen.push_back(b.direction + " " + b.hex);
        platform::RemoveFile(path);
        EXPECT_EQ(seen, c.blocks);
    }
}

TEST(DeviceTest, OnALineAnOpenDeviceUsesLeavesThatDeviceWorking) {
    // The test makes a device of its own on the same port, weighs and closes
    // only that one. A device that keeps its line holds the serial port (one
    // user at a time): the test finds it taken.
    using zel::host::Value;
    struct Case {
        bool keep;
        std::u16string text;  // the test's text, or its start
    };
    for (const Case& c : {Case{true, u"Ошибка_1:"}, Case{false, u"Вес:  2.500; "}}) {
        SCOPED_TRACE(c.keep ? "line kept" : "line released");
        PolledRig rig(13, Wire::Pty, c.keep);
        ASSERT_EQ(rig.openCode, 0);
        rig.sim.SetWeight(2.5);
        ASSERT_EQ(rig.Weigh().code, 0);
        auto test = rig.component->Call(u"DeviceTest", {Value(), Value()});
        ASSERT_TRUE(test.ok);
        EXPECT_EQ(test.params[0].text.substr(0, c.text.size()), c.text);
        EXPECT_EQ(rig.component->LastError(), 0);
        for (int i = 0; i < 2; ++i) {
            Weighing w = rig.Weigh();
            EXPECT_EQ(w.code, 0);
            EXPECT_EQ(w.weight, 2.5);
        }
        // Still found by its port name too.
        auto byPort =
            rig.component->Call(u"GetWeight", {Value::Text(zel::host::FromUtf8(rig.sim.DevicePath())), Value()});
        EXPECT_TRUE(byPort.ret.boolean);
    }
}

}  // namespace
