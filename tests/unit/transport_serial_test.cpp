// The serial line against a real pseudo-terminal that starts in the
// system's cooked mode.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/pty.h"
#include "platform/sys.h"
#include "tests/unit/transport_test_util.h"
#include "transport/COMPort.h"

namespace {

using zeltest::Pty;

std::string MessageOf(const char* name) {
    try {
        COMPort port(name);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(opened)";
}

// Collects up to `want` bytes from the serial line within `ms`.
std::string ReadLine(COMPort& port, size_t want, unsigned ms = 1000) {
    std::string got;
    uint64_t end = platform::MonotonicMs() + ms;
    while (got.size() < want && platform::MonotonicMs() < end) {
        port.WaitForInput(20);
        char buf[256];
        int32_t n = port.Read(buf, sizeof buf);
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

// Collects `want` bytes from the master, then anything that follows
// within 30 ms (bytes the line should not have added).
std::string ReadMaster(int master, size_t want) {
    std::string got;
    uint64_t end = platform::MonotonicMs() + 1000;
    bool quiet = false;
    while (platform::MonotonicMs() < end) {
        char buf[256];
        long n = platform::IoRead(master, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<size_t>(n));
        } else {
            platform::SleepMs(2);
        }
        if (got.size() >= want && !quiet) {
            quiet = true;
            end = platform::MonotonicMs() + 30;
        }
    }
    return got;
}

// Every byte a cooked line would eat or change: CR, LF, XON, XOFF, the
// control characters of the line discipline, and bytes above 0x7F.
const std::string kFrame("\x0D\x0A\x11\x13\x03\x04\x1A\x1C\x7F\x15\x17\x12\x16\x0F\x00\x80\x8D\x91\x93\xFF\x0A\x0D", 22);

}  // namespace

TEST(COMPort, BinaryFramesPassUnchangedBothWays) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    COMPort port(pty.slave.c_str());
    EXPECT_FALSE(platform::PtyPeerCooked(pty.master));
    // A read right after open with nothing received returns 0 at once.
    char buf[16];
    uint64_t t0 = platform::MonotonicMs();
    EXPECT_EQ(port.Read(buf, sizeof buf), 0);
    EXPECT_LT(platform::MonotonicMs() - t0, 500u);

    ASSERT_EQ(platform::IoWrite(pty.master, kFrame.data(), kFrame.size()), static_cast<long>(kFrame.size()));
    EXPECT_EQ(ReadLine(port, kFrame.size()), kFrame);  // no echo, no CR/LF mapping, XON/XOFF kept
    EXPECT_EQ(port.Write(kFrame.data(), static_cast<int32_t>(kFrame.size())), static_cast<int32_t>(kFrame.size()));
    EXPECT_EQ(ReadMaster(pty.master, kFrame.size()), kFrame);  // no CR added before LF
}

TEST(COMPort, OpenFailures) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    std::string notATerminal = zeltest::InModuleDir("zel_not_a_tty.txt");
    zeltest::ScopedFile plain(notATerminal, "x");
    struct Case {
        const char* name;
        const char* message;
    } cases[] = {
        {"/dev/zel-no-such-port", "COMPort: failed to open."},
        {"", "COMPort: failed to open."},
        {nullptr, "COMPort: failed to open."},
        {notATerminal.c_str(), "COMPort: failed to open."},
        {pty.slave.c_str(), "(opened)"},
    };
    for (const Case& c : cases) EXPECT_EQ(MessageOf(c.name), c.message) << (c.name ? c.name : "(null)");

    // Exclusive: a second opener fails while the first holds the line.
    auto* first = new COMPort(pty.slave.c_str());
    EXPECT_EQ(MessageOf(pty.slave.c_str()), "COMPort: failed to open.");
    delete first;
    EXPECT_EQ(MessageOf(pty.slave.c_str()), "(opened)");
}

TEST(COMPort, SettersAcceptWhatTheLineCanTake) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    enum What { kBaud, kParity, kBits, kStop, kHandshake, kXon };
    struct Case {
        What what;
        int32_t value;
        bool accepted;
    } cases[] = {
        {kBaud, 9600, true},    {kBaud, 115200, true}, {kBaud, 1200, true}, {kBaud, 56000, true}, {kBaud, 256000, true},
        {kBaud, 0, false},      {kBaud, -9600, false}, {kParity, 0, true},  {kParity, 1, true},
        {kParity, 2, true},     {kParity, 3, true},    {kParity, 4, true},  {kParity, 5, false},
        {kParity, 255, false},  {kBits, 8, true},      {kBits, 7, true},    {kBits, 9, false},
        {kBits, 0, false},      {kStop, 0, true},      {kStop, 1, true},    {kStop, 2, true},
        {kStop, 3, false},      {kHandshake, 1, true}, {kHandshake, 0, true}, {kXon, 1, true},
        {kXon, 0, true},
    };
    for (const Case& c : cases) {
        COMPort port(pty.slave.c_str());
        std::string message;
        try {
            switch (c.what) {
            case kBaud: port.SetBaudRate(c.value); break;
            case kParity: port.SetParity(static_cast<uint8_t>(c.value)); break;
            case kBits: port.SetByteSize(static_cast<uint8_t>(c.value)); break;
            case kStop: port.SetStopBits(static_cast<uint8_t>(c.value)); break;
            case kHandshake: port.SetHandshaking(static_cast<uint8_t>(c.value)); break;
            case kXon: port.SetXonXoff(static_cast<uint8_t>(c.value)); break;
            }
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
        EXPECT_EQ(message, c.accepted ? "" : "COMPort: could not modify serial port state.")
            << "setting " << c.what << " = " << c.value;
    }
}

TEST(COMPort, XonXoffOnlyWhenAskedFor) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    COMPort port(pty.slave.c_str());
    port.SetXonXoff(1);
    // With software flow control the line takes XON/XOFF for itself.
    platform::IoWrite(pty.master, "\x13\x11" "A", 3);
    EXPECT_EQ(ReadLine(port, 3, 100), "A");
    port.SetXonXoff(0);
    platform::IoWrite(pty.master, "\x13\x11" "B", 3);
    EXPECT_EQ(ReadLine(port, 3), "\x13\x11" "B");
    port.SetHandshaking(1);
    port.SetHandshaking(0);
    platform::IoWrite(pty.master, "C", 1);
    EXPECT_EQ(ReadLine(port, 1), "C");
}

TEST(COMPort, ReadAndWriteFailAfterHangup) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    COMPort port(pty.slave.c_str());
    pty.Hangup();
    EXPECT_TRUE(port.WaitForInput(200));  // the hang-up wakes a waiter
    char buf[8];
    EXPECT_THROW(
        {
            try {
                port.Read(buf, sizeof buf);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "COMPort: read failed.");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_THROW(
        {
            try {
                port.Write("x", 1);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "COMPort: write failed.");
                throw;
            }
        },
        std::runtime_error);
}

#endif  // _WIN32
