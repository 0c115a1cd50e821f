// What a serial line really gets from the device port, read back from the
// system: every speed of the setup form and every stop-bit code, on a real
// pseudo-terminal (which keeps the speed and the stop bits, not the parity).
#ifndef _WIN32

#include <gtest/gtest.h>

#include <string>

#include "platform/pty.h"
#include "platform/serial.h"
#include "tests/unit/transport_test_util.h"
#include "transport/ZelComLanPort.h"

namespace {

using zeltest::Pty;

platform::TtyLineSettings ReadBack(int master) {
    platform::TtyLineSettings s;
    EXPECT_TRUE(platform::TtyReadLineSettings(master, &s));
    return s;
}

TEST(SerialLineSettings, EverySpeedOfTheSetupForm) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    CZelComLanPort port;
    ASSERT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
    EXPECT_EQ(ReadBack(pty.master).baud, 4800) << "the port opens at 4800";
    // 56000 and 256000 have no termios constant: they go by number.
    const int32_t speeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 56000, 57600, 115200, 256000};
    for (int32_t baud : speeds) {
        ASSERT_EQ(port.SetBaudRate(baud), 0) << baud;
        EXPECT_EQ(ReadBack(pty.master).baud, baud);
    }
    // Downwards too, so that no speed is left over from the one before.
    for (int i = static_cast<int>(sizeof(speeds) / sizeof(speeds[0])) - 1; i >= 0; --i) {
        ASSERT_EQ(port.SetBaudRate(speeds[i]), 0) << speeds[i];
        EXPECT_EQ(ReadBack(pty.master).baud, speeds[i]);
    }
    // Reopening starts again from 4800. A speed set afterwards survives a
    // change of another setting, which writes the whole record again.
    for (int32_t baud : speeds) {
        ASSERT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
        EXPECT_EQ(ReadBack(pty.master).baud, 4800);
        ASSERT_EQ(port.SetBaudRate(baud), 0);
        ASSERT_EQ(port.SetStopBits(2), 0);
        platform::TtyLineSettings s = ReadBack(pty.master);
        EXPECT_EQ(s.baud, baud);
        EXPECT_TRUE(s.twoStopBits) << baud;
    }
}

TEST(SerialLineSettings, EveryStopBitCode) {
    Pty pty;
    ASSERT_NE(pty.master, platform::kNoHandle);
    CZelComLanPort port;
    ASSERT_EQ(port.OpenComPort(pty.slave.c_str()), 0);
    EXPECT_FALSE(ReadBack(pty.master).twoStopBits) << "the port opens with one stop bit";
    // One and a half has no termios flag; the nearest the line takes is two.
    struct Case {
        int32_t code;
        bool twoStopBits;
    } const cases[] = {{2, true}, {0, false}, {1, true}, {0, false}, {2, true}, {1, true}, {0, false}};
    for (const Case& c : cases) {
        ASSERT_EQ(port.SetStopBits(c.code), 0) << c.code;
        platform::TtyLineSettings s = ReadBack(pty.master);
        EXPECT_EQ(s.twoStopBits, c.twoStopBits) << "code " << c.code;
        EXPECT_EQ(s.dataBits, 8);
        EXPECT_EQ(s.baud, 4800) << "the speed stays";
    }
    // Every stop-bit code at a speed set by number.
    ASSERT_EQ(port.SetBaudRate(256000), 0);
    for (const Case& c : cases) {
        ASSERT_EQ(port.SetStopBits(c.code), 0) << c.code;
        platform::TtyLineSettings s = ReadBack(pty.master);
        EXPECT_EQ(s.twoStopBits, c.twoStopBits) << "code " << c.code;
        EXPECT_EQ(s.baud, 256000);
    }
}

}  // namespace

#endif
