#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/unit/transport_test_util.h"
#include "transport/Log.h"

namespace {

// Two blocks as a device on \\.\COM1 writes them: the open at the port's
// default 4800 baud, then 30 bytes read after switching to 9600.
const char kExample[] =
    "\r\n"
    "____________________________________________________________________\r\n"
    "SYS        2020-03-05 14:07:09.042 ---- Bytes:    4 -----\r\n"
    "COMPORT: \\\\.\\COM1;4800\\None\\8\\1, Handshaking=0, xONxOFF=0\r\n"
    "  N     1  2  3  4  5  6  7  8  9 10   11 12 13 14 15 16 17 18 19 20\r\n"
    "\r\n"
    "00001: 4F 50 45 4E                   |                                  OPEN                \r\n"
    "\r\n"
    "____________________________________________________________________\r\n"
    "IN <<<<<<  2020-03-05 14:07:09.601 ---- Bytes:   30 -----\r\n"
    "COMPORT: \\\\.\\COM1;9600\\None\\8\\1, Handshaking=0, xONxOFF=0\r\n"
    "  N     1  2  3  4  5  6  7  8  9 10   11 12 13 14 15 16 17 18 19 20\r\n"
    "\r\n"
    "00001: 77 77 20 30 30 30 31 2E 32 33 | 34 6B 67 0D 0A 77 77 20 30 30    ww 0001.234kg..ww 00\r\n"
    "00021: 30 31 2E 32 33 34 6B 67 0D 0A |                                  01.234kg..          \r\n";

std::string Block(int direction, const std::string& data, const std::string& line, platform::LocalTime t) {
    std::string out = zel::TrafficBlockHeader(direction, static_cast<int32_t>(data.size()), line, t);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    for (size_t i = 0; i < data.size(); i += 20) {
        size_t n = data.size() - i < 20 ? data.size() - i : 20;
        out += zel::TrafficRow(bytes + i, static_cast<int32_t>(n), static_cast<int32_t>(i));
    }
    return out;
}

}  // namespace

TEST(TrafficLog, ReproducesTheExampleByteForByte) {
    std::string text = Block(0, "OPEN", zel::TrafficComLine("\\\\.\\COM1", 4800, 0, 8, 0, 0, 0),
                             {2020, 3, 5, 14, 7, 9, 42});
    text += Block(2, "ww 0001.234kg\r\nww 0001.234kg\r\n", zel::TrafficComLine("\\\\.\\COM1", 9600, 0, 8, 0, 0, 0),
                  {2020, 3, 5, 14, 7, 9, 601});
    EXPECT_EQ(text, kExample);
}

// The whole block as one text, as the device log writes it, is the header
// and rows of the example; a block without bytes is its header alone.
TEST(TrafficLog, WholeBlockMatchesHeaderAndRows) {
    const platform::LocalTime t{2020, 3, 5, 14, 7, 9, 601};
    const std::string line = zel::TrafficComLine("\\\\.\\COM1", 9600, 0, 8, 0, 0, 0);
    for (size_t n : {size_t(1), size_t(19), size_t(20), size_t(21), size_t(40), size_t(41), size_t(257)}) {
        std::string data;
        for (size_t i = 0; i < n; ++i) data += static_cast<char>(i * 37);
        EXPECT_EQ(zel::TrafficBlock(2, reinterpret_cast<const unsigned char*>(data.data()),
                                    static_cast<int32_t>(n), line, t),
                  Block(2, data, line, t))
            << n << " bytes";
    }
    const std::string example(kExample);
    const std::string second = example.substr(example.find("\r\n____", 2));
    EXPECT_EQ(zel::TrafficBlock(2, reinterpret_cast<const unsigned char*>("ww 0001.234kg\r\nww 0001.234kg\r\n"), 30,
                                line, t),
              second);
    EXPECT_EQ(zel::TrafficBlock(1, nullptr, 0, line, t), zel::TrafficBlockHeader(1, 0, line, t));
}

TEST(TrafficLog, RowsAndLineDescriptions) {
    struct Case {
        std::string bytes;
        int32_t offset;
        const char* row;
    } rows[] = {
        // One byte in a row of its own: 19 blank columns, 19 blank text places.
        {"\x41", 20,
         "00021: 41                            |                                  A                   \r\n"},
        // Control bytes show as '.', bytes from 0x7F up are copied as they are.
        {std::string("\x0D\x0A\x00\x1F\x20\x7F\xFF", 7), 0,
         "00001: 0D 0A 00 1F 20 7F FF          |                                  .... \x7F\xFF             \r\n"},
        {"ABCDEFGHIJKLMNOPQRST", 99980,
         "99981: 41 42 43 44 45 46 47 48 49 4A | 4B 4C 4D 4E 4F 50 51 52 53 54    ABCDEFGHIJKLMNOPQRST\r\n"},
    };
    for (const Case& c : rows) {
        EXPECT_EQ(zel::TrafficRow(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                                  static_cast<int32_t>(c.bytes.size()), c.offset),
                  c.row);
    }
    struct Line {
        std::string got;
        const char* expected;
    } lines[] = {
        {zel::TrafficComLine("/dev/ttyS0", 19200, 2, 8, 2, 1, 1),
         "COMPORT: /dev/ttyS0;19200\\Even\\8\\2, Handshaking=1, xONxOFF=1"},
        {zel::TrafficComLine("COM3", 4800, 4, 8, 1, 0, 0), "COMPORT: COM3;4800\\Space\\8\\1.5, Handshaking=0, xONxOFF=0"},
        // Codes the line refused are shown as numbers, never read past a table.
        {zel::TrafficComLine("COM3", 4800, 7, 8, -1, 0, 0), "COMPORT: COM3;4800\\7\\8\\-1, Handshaking=0, xONxOFF=0"},
        {zel::TrafficTcpLine("scale.local", 20108), "ETHERNET: scale.local:20108"},
    };
    for (const Line& l : lines) EXPECT_EQ(l.got, l.expected);
    EXPECT_STREQ(zel::TrafficDirectionLabel(1), "OUT >>>>>");
}

TEST(GeneralLog, LogModeDecidesFileAndClosingRecord) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("zel_glog_" + std::to_string(platform::UnixSeconds()) + "_" +
                                                std::to_string(platform::MonotonicMs()));
    fs::create_directories(dir);
    struct Case {
        const char* settings;  // nullptr: no settings file
        bool fileExpected;
        bool closingRecord;
    } cases[] = {
        {nullptr, true, true},                            // default 3
        {"[GLOBAL]\r\nLOG_MODE=0\r\n", false, false},
        {"[GLOBAL]\r\nLOG_MODE=-4\r\n", false, false},
        {"[GLOBAL]\r\nLOG_MODE=2\r\n", true, false},
        {"[global]\r\nlog_mode = 1\r\n", true, false},   // names in any case
        {"[GLOBAL]\r\nLOG_MODE=3\r\n", true, true},
        {"[GLOBAL]\nLOG_MODE=4\n", true, true},
        // A signed 8-bit level: only the low byte counts.
        {"[GLOBAL]\r\nLOG_MODE=256\r\n", false, false},   // 0
        {"[GLOBAL]\r\nLOG_MODE=255\r\n", false, false},   // -1
        {"[GLOBAL]\r\nLOG_MODE=128\r\n", false, false},   // -128
        {"[GLOBAL]\r\nLOG_MODE=127\r\n", true, true},
        {"[GLOBAL]\r\nLOG_MODE=258\r\n", true, false},    // 2
        {"[GLOBAL]\r\nLOG_MODE=259\r\n", true, true},     // 3
        {"[GLOBAL]\r\nLOG_MODE=-253\r\n", true, true},    // 3
        {"[GLOBAL]\r\nLOG_MODE=4294967299\r\n", true, true},  // wraps to 3 in 32 bits
    };
    int i = 0;
    for (const Case& c : cases) {
        std::string settings = (dir / ("settings" + std::to_string(i) + ".ini")).string();
        std::string log = (dir / ("zel" + std::to_string(i) + ".log")).string();
        ++i;
        if (c.settings) zeltest::WriteAll(settings, c.settings);
        zel::GeneralLogStart(settings, log);
        EXPECT_EQ(zel::LogWrite(zel::kLogError, "x"), c.fileExpected ? 0 : 1);
        zel::GeneralLogEnd();
        EXPECT_EQ(fs::exists(log), c.fileExpected) << (c.settings ? c.settings : "(none)");
        std::string text = zeltest::ReadAll(log);
        bool closing = text.find(": Info:Log-file is closed") != std::string::npos;
        EXPECT_EQ(closing, c.closingRecord) << (c.settings ? c.settings : "(none)");
        EXPECT_EQ(zel::LogWrite(zel::kLogSys, "after the end"), 1);
    }
    // Record layout: CR LF, date, time, level name, text; appended on reopen.
    std::string log = (dir / "layout.log").string();
    zeltest::WriteAll(log, "earlier");
    zel::GeneralLogStart((dir / "none.ini").string(), log);
    zel::LogWrite(zel::kLogWarn, "port %s: %d", "COM3", 7);
    zel::LogWrite(zel::kLogDbg, "not within level 3");
    zel::GeneralLogEnd();
    std::string text = zeltest::ReadAll(log);
    std::regex layout(
        "earlier\r\n\\d{4}\\.\\d{2}\\.\\d{2} \\d{2}:\\d{2}:\\d{2}: Warn:port COM3: 7"
        "\r\n\\d{4}\\.\\d{2}\\.\\d{2} \\d{2}:\\d{2}:\\d{2}: Info:Log-file is closed");
    EXPECT_TRUE(std::regex_match(text, layout)) << text;
    fs::remove_all(dir);
}
