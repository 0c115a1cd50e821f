// The line settings the tool shows from a traffic log's descriptions, and
// the words for a command's reply that did not confirm it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/trace.h"
#include "tools/why.h"

using zelscales::TrafficBlock;

namespace {

TrafficBlock Block(const char* direction, const std::string& line, const std::vector<uint8_t>& bytes = {}) {
    TrafficBlock b;
    b.direction = direction;
    b.line = line;
    b.bytes = bytes;
    return b;
}

const char kDefaults[] = "COMPORT: \\\\.\\COM1;4800\\None\\8\\1, Handshaking=0, xONxOFF=0";
const char kEven[] = "COMPORT: \\\\.\\COM1;9600\\Even\\8\\1, Handshaking=0, xONxOFF=0";
const char kOdd2[] = "COMPORT: /dev/ttyS0;19200\\Odd\\8\\2, Handshaking=0, xONxOFF=0";
const char kTcp[] = "ETHERNET: 10.0.0.9:20108";

TEST(ToolLineSettings, OfTheDescription) {
    EXPECT_EQ(zelscales::LineSettingsOf(kDefaults), "4800 8N1");
    EXPECT_EQ(zelscales::LineSettingsOf(kEven), "9600 8E1");
    EXPECT_EQ(zelscales::LineSettingsOf(kOdd2), "19200 8O2");
    EXPECT_EQ(zelscales::LineSettingsOf(kTcp), "");
    EXPECT_EQ(zelscales::LineSettingsOf("COMPORT: x;9600"), "");
    EXPECT_EQ(zelscales::LineSettingsOf(""), "");
}

TEST(ToolLineSettings, NotesWhereTheSettingsChange) {
    struct Case {
        const char* what;
        std::vector<TrafficBlock> blocks;
        std::vector<std::string> notes;  // one per block
    };
    const std::string switched = "9600 8E1 (the open above was logged at the port's defaults, before the switch)";
    const std::vector<Case> cases = {
        {"open at the defaults, exchange at 9600 8E1",
         {Block("open", kDefaults), Block("sent", kEven, {0x45}), Block("received", kEven, {1}), Block("close", kEven)},
         {"", switched, "", ""}},
        {"every reopen is told again",
         {Block("open", kDefaults), Block("sent", kEven), Block("close", kEven), Block("open", kDefaults),
          Block("close", kEven)},
         {"", switched, "", "", switched}},
        {"the port opened at the device's own settings", {Block("open", kEven), Block("sent", kEven)}, {"", ""}},
        {"a switch between transfers",
         {Block("open", kEven), Block("sent", kEven), Block("sent", kOdd2)},
         {"", "", "19200 8O2 (the line was switched)"}},
        {"followed from the middle: the settings alone", {Block("sent", kEven), Block("received", kEven)},
         {"9600 8E1", ""}},
        {"TCP has no settings", {Block("open", kTcp), Block("sent", kTcp)}, {"", ""}},
    };
    for (const Case& c : cases) {
        zelscales::LineSettingsNotes notes;
        ASSERT_EQ(c.blocks.size(), c.notes.size()) << c.what;
        for (size_t i = 0; i < c.blocks.size(); ++i) EXPECT_EQ(notes.Note(c.blocks[i]), c.notes[i]) << c.what << " #" << i;
    }
}

TEST(ToolLineSettings, ModbusReplies) {
    struct Case {
        std::vector<uint8_t> reply;
        const char* text;
    };
    const std::vector<Case> cases = {
        {{0x01, 0x86, 0x02, 0xC3, 0xA1}, "an exception reply of function 06: exception code 2"},
        {{0x01, 0x06, 0x00, 0x07, 0x00, 0x00, 0x38, 0x0B}, "a write reply of function 06: register 0007 reads back value 0000"},
        {{0x01, 0x10, 0x00, 0x01, 0x00, 0x02, 0x10, 0x08}, "a write reply of function 10: register 0001 reads back count 0002"},
        {{0x01, 0x03, 0x04}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(zelscales::ModbusReplyText(c.reply), c.text);
}

TEST(ToolLineSettings, ARefusedReplyIsNotSilence) {
    zelscales::Options o;
    o.model = 41;
    o.port = "/dev/ttyUSB0";
    const std::vector<TrafficBlock> answered = {
        Block("sent", kEven, {0x01, 0x06, 0x00, 0x07, 0xA5, 0x0B, 0x02, 0x9C}),
        Block("received", kEven, {0x01, 0x06, 0x00, 0x07, 0x00, 0x00}),
        Block("received", kEven, {0x38, 0x0B}),
    };
    EXPECT_EQ(zelscales::FailedCommandText(o, "tare failed", 3, "result 3: x", &answered, "tare"),
              "tare failed: the scale answered 01 06 00 07 00 00 38 0B, which does not confirm the tare\nresult 3: x");
    const std::vector<TrafficBlock> silent = {Block("sent", kEven, {0x01, 0x06})};
    EXPECT_NE(zelscales::FailedCommandText(o, "tare failed", 3, "result 3: x", &silent, "tare").find("no byte came"),
              std::string::npos);
}

}  // namespace
