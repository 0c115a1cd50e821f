// The serial line settings each model asks for, seen in its traffic log: the
// COMPORT line of every block once the model's class has set up the line.
// Every model of the list has its expected settings here; a model that the
// driver does not create yet (Open gives 5) is skipped until it is added.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/Component.h"
#include "platform/files.h"
#include "platform/pty.h"
#include "platform/sys.h"
#include "tests/unit/transport_test_util.h"

namespace {

using zel::host::Value;

// Data bits, parity (N none, E even) and stop bits of every model, 0..41.
// Model 20 is the emulator, which opens no line.
const char* const kLine[42] = {
    "8E1",  // 0  VTA-60
    "8N1",  // 1  VN-a-CI
    "8N1",  // 2  TBE
    "8N1",  // 3  TB1, TB4
    "8N1",  // 4  VN-220 on request
    "8N1",  // 5  VN-220, readings as events
    "8N1",  // 6  VN-a-CI with a scanner, events
    "8N1",  // 7  A9, DS3M1
    "8N1",  // 8  A12
    "8N1",  // 9  Axis
    "8E1",  // 10 Масса-К
    "8N1",  // 11 Rinstrum
    "8N1",  // 12 DS2
    "8N1",  // 13 CAS
    "8N1",  // 14 CAS-LP
    "8N1",  // 15 VTA-60 protocol 3, events
    "8N1",  // 16 KELI
    "8E2",  // 17 Camry
    "8N1",  // 18 OCS
    "8N1",  // 19 JADEVER SNUG II
    nullptr,  // 20 emulator
    "8N1",  // 21 JADEVER JPL
    "8E1",  // 22 VTA-60 protocol 4, events
    "8N1",  // 23 DIGI
    "8N1",  // 24 IQ plus 355
    "8N1",  // 25 CERTUS
    "8N1",  // 26 HBM
    "8N1",  // 27 BTHE, CAS protocol
    "8N1",  // 28 BTHE, UNS-02
    "8N1",  // 29 T7E
    "8E1",  // 30 ICS NT
    "8N1",  // 31 A12EH
    "8N1",  // 32 VN-220 with tare, events
    "8N1",  // 33 SMART
    "8N1",  // 34 A9 continuous
    "8N1",  // 35 RADWAG
    "8N1",  // 36 ESIT Smart2
    "8N1",  // 37 ESIT ECI STATIC
    "8N1",  // 38 KELI K9
    "8N1",  // 39 HL318L
    "8N1",  // 40 KELI D12
    "8N1",  // 41 BST106
};

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
    const char* expected = kLine[model];
    if (!expected) GTEST_SKIP() << "model " << model << " opens no line";
    const int32_t baud = kBauds[model % (sizeof(kBauds) / sizeof(kBauds[0]))];

    std::string slave;
    int master = platform::PtyOpenMaster(&slave);
    ASSERT_NE(master, platform::kNoHandle);
    zeltest::ScopedFile marker(zel::host::BesideLibrary("log.txt"), "");
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
        if (code == 5) {
            platform::IoClose(master);
            GTEST_SKIP() << "the driver does not create model " << model << " yet";
        }
        EXPECT_EQ(code, 0) << "model " << model << " on a pseudo-terminal";
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

INSTANTIATE_TEST_SUITE_P(EveryModel, LineSettings, ::testing::Range(0, 42),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Model" + std::to_string(info.param);
                         });

}  // namespace
