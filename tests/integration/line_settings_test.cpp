// The serial line settings each model asks for, seen in its traffic log: the
// COMPORT line of every block once the model's class has set up the line.
// Every model of the table that opens a line is checked against the table's
// framing; a model the driver cannot open fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "host/Component.h"
#include "platform/files.h"
#include "platform/pty.h"
#include "platform/sys.h"
#include "tests/unit/transport_test_util.h"

namespace {

using zel::host::Value;

// Every model of the table that opens a serial line (not the emulator, not a
// placeholder).
std::vector<int> ModelsWithALine() {
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    std::vector<int> out;
    for (size_t i = 0; i < count; ++i)
        if (rows[i].kind == zel::devices::ModelKind::kPolled || rows[i].kind == zel::devices::ModelKind::kListener)
            out.push_back(rows[i].number);
    return out;
}

// Speeds of the setup form other than the port's own 4800, so that a class
// that does not set the configured speed is seen.
const int32_t kBauds[] = {1200, 2400, 9600, 19200, 38400, 56000, 57600, 115200, 256000};

std::string ExpectedComLine(const std::string& port, int32_t baud, const char* line) {
    const std::string parity = line[1] == 'E' ? "Even" : line[1] == 'O' ? "Odd" : "None";
    return "COMPORT: " + port + ";" + std::to_string(baud) + "\\" + parity + "\\" + line[0] + "\\" + line[2] +
           ", Handshaking=0, xONxOFF=0";
}

struct Block {
    std::string header;  // direction, time and length
    std::string line;    // the line description
    std::string data;    // the rows
};

std::vector<Block> Blocks(const std::string& log) {
    const std::string rule = "\r\n" + std::string(68, '_') + "\r\n";
    std::vector<Block> out;
    for (size_t at = log.find(rule); at != std::string::npos;) {
        size_t start = at + rule.size();
        size_t next = log.find(rule, start);
        std::string text = log.substr(start, next == std::string::npos ? std::string::npos : next - start);
        Block b;
        size_t e1 = text.find("\r\n");
        size_t e2 = e1 == std::string::npos ? e1 : text.find("\r\n", e1 + 2);
        if (e2 != std::string::npos) {
            b.header = text.substr(0, e1);
            b.line = text.substr(e1 + 2, e2 - e1 - 2);
            b.data = text.substr(e2 + 2);
        }
        out.push_back(b);
        at = next;
    }
    return out;
}

class LineSettings : public ::testing::TestWithParam<int> {};

TEST_P(LineSettings, TrafficLogShowsTheModelsLine) {
    const int model = GetParam();
    const char* expected = zel::LineName(zel::devices::FindModel(model)->line);
    const int32_t baud = kBauds[model % (sizeof(kBauds) / sizeof(kBauds[0]))];

    std::string slave;
    int master = platform::PtyOpenMaster(&slave);
    ASSERT_NE(master, platform::kNoHandle);
    zeltest::HeldMarker marker(zel::host::BesideLibrary("log.txt"));
    std::string logPath;
    {
        zel::host::Component driver;
        driver.SetParameter(u"model", Value::Int(model));
        driver.SetParameter(u"conntype", Value::Int(0));
        driver.SetParameter(u"conleave", Value::Bool(false));
        driver.SetParameter(u"cport", Value::Text(zel::host::FromUtf8(slave)));
        driver.SetParameter(u"cbaudrate", Value::Int(baud));
        std::u16string id = driver.Open();
        const int32_t code = driver.LastError();
        if (code != 0) platform::IoClose(master);
        ASSERT_EQ(code, 0) << "model " << model << " on a pseudo-terminal";
        logPath = zel::host::BesideLibrary("log_scales_" + zel::host::ToUtf8(id) + ".log");
        driver.Call(u"Close", {Value::Text(id)});
    }
    platform::IoClose(master);
    const std::string log = zeltest::ReadAll(logPath);
    platform::RemoveFile(logPath);

    // The line opens at the port's defaults and logs that before the class
    // sets it up; every later block shows the model's settings.
    const std::string defaults = ExpectedComLine(slave, 4800, "8N1");
    const std::string wanted = ExpectedComLine(slave, baud, expected);
    std::vector<Block> blocks = Blocks(log);
    ASSERT_GE(blocks.size(), 2u) << log;
    EXPECT_EQ(blocks.front().line, defaults);
    EXPECT_NE(blocks.front().data.find("OPEN"), std::string::npos) << blocks.front().data;
    size_t checked = 0;
    for (size_t i = 1; i < blocks.size(); ++i) {
        const Block& b = blocks[i];
        if (b.data.find(" 4F 50 45 4E ") != std::string::npos && b.header.rfind("SYS", 0) == 0) continue;  // OPEN
        EXPECT_EQ(b.line, wanted) << "block " << i << ": " << b.header;
        ++checked;
    }
    EXPECT_GE(checked, 1u) << log;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, LineSettings, ::testing::ValuesIn(ModelsWithALine()),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Model" + std::to_string(info.param);
                         });

}  // namespace
