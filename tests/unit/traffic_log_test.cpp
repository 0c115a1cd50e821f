#include "tools/traffic_log.h"

#include <gtest/gtest.h>

#include <string>

using zelscales::ParseTrafficLog;

namespace {

const char kExample[] =
    "\r\n____________________________________________________________________\r\n"
    "SYS        2020-03-05 14:07:09.042 ---- Bytes:    4 -----\r\n"
    "COMPORT: \\\\.\\COM1;4800\\None\\8\\1, Handshaking=0, xONxOFF=0\r\n"
    "  N     1  2  3  4  5  6  7  8  9 10   11 12 13 14 15 16 17 18 19 20\r\n\r\n"
    "00001: 4F 50 45 4E                   |                                  OPEN                \r\n"
    "\r\n____________________________________________________________________\r\n"
    "IN <<<<<<  2020-03-05 14:07:09.601 ---- Bytes:   30 -----\r\n"
    "COMPORT: \\\\.\\COM1;9600\\None\\8\\1, Handshaking=0, xONxOFF=0\r\n"
    "  N     1  2  3  4  5  6  7  8  9 10   11 12 13 14 15 16 17 18 19 20\r\n\r\n"
    "00001: 77 77 20 30 30 30 31 2E 32 33 | 34 6B 67 0D 0A 77 77 20 30 30    ww 0001.234kg..ww 00\r\n"
    "00021: 30 31 2E 32 33 34 6B 67 0D 0A |                                  01.234kg..          \r\n";

std::string WithoutCr(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    return out;
}

std::string Block(const char* label, int n) {
    std::string s = "\r\n____________________________________________________________________\r\n";
    char head[128];
    std::snprintf(head, sizeof head, "%s  2026-12-09 08:00:00.001 ---- Bytes:%5d -----\r\n", label, n);
    s += head;
    s += "ETHERNET: 127.0.0.1:5001\r\n  N     1  2  3  4  5  6  7  8  9 10   11 12 13 14 15 16 17 18 19 20\r\n\r\n";
    for (int i = 0; i < n; i += 20) {
        char row[16];
        std::snprintf(row, sizeof row, "%05d:", i + 1);
        s += row;
        for (int c = 0; c < 20; ++c) {
            if (c == 10) s += " |";
            if (i + c < n) {
                char hex[8];
                std::snprintf(hex, sizeof hex, " %02X", (i + c) & 0xFF);
                s += hex;
            } else {
                s += "   ";
            }
        }
        s += "    ....................\r\n";
    }
    return s;
}

}  // namespace

TEST(TrafficLogReader, ReadsTheExampleWithEitherLineEnd) {
    for (const std::string& text : {std::string(kExample), WithoutCr(kExample)}) {
        auto log = ParseTrafficLog(text);
        EXPECT_TRUE(log.problems.empty());
        ASSERT_EQ(log.blocks.size(), 2u);
        EXPECT_EQ(log.blocks[0].direction, "open");
        EXPECT_EQ(log.blocks[0].time, "2020-03-05 14:07:09.042");
        EXPECT_EQ(log.blocks[0].line, "COMPORT: \\\\.\\COM1;4800\\None\\8\\1, Handshaking=0, xONxOFF=0");
        EXPECT_EQ(log.blocks[1].direction, "received");
        EXPECT_EQ(zelscales::TextOf(log.blocks[1].bytes), "ww 0001.234kg..ww 0001.234kg..");
        EXPECT_EQ(log.blocks[1].lineNumber, 10);
    }
}

TEST(TrafficLogReader, RowsOfOneTwentyAndTwentyOneBytes) {
    for (int n : {1, 20, 21, 45}) {
        auto log = ParseTrafficLog(Block("OUT >>>>>>", n));
        EXPECT_TRUE(log.problems.empty()) << n;
        ASSERT_EQ(log.blocks.size(), 1u) << n;
        EXPECT_EQ(log.blocks[0].direction, "sent");
        ASSERT_EQ(log.blocks[0].bytes.size(), static_cast<size_t>(n));
        EXPECT_EQ(log.blocks[0].bytes.back(), (n - 1) & 0xFF);
    }
}

TEST(TrafficLogReader, DamagedInputIsReportedNotFatal) {
    struct Case {
        std::string text;
        size_t blocks;
        bool problems;
    } cases[] = {
        {std::string(kExample).substr(0, std::string(kExample).size() - 60), 2, true},  // truncated row
        {"garbage\r\nmore garbage", 0, true},
        {std::string(100000, 'x'), 0, true},                                             // one huge line
        {std::string("\0\0\xff\n", 4) + kExample, 2, true},
        {"IN <<<<<<  2020-03-05 14:07:09.601 ---- Bytes:999999999999 -----\r\n", 0, true},
        {Block("IN <<<<<<", 3) + "00001: 41 41\r\n", 1, true},                           // row out of order
        {"", 0, false},
    };
    for (const Case& c : cases) {
        auto log = ParseTrafficLog(c.text);
        EXPECT_EQ(log.blocks.size(), c.blocks);
        EXPECT_EQ(!log.problems.empty(), c.problems);
    }
}
