// The scan of `zelscales detect` held against every command of every
// protocol: the whole stream a scale would see (all speeds, all probes, in
// order, and a second scan straight after the first) spells none of them,
// and the matcher that says so does find each one where it is.
#include <gtest/gtest.h>

#include "core/Crc.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "devices/ModelTable.h"
#include "tools/detect_plan.h"

using namespace zelscales::detect;

namespace {

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s.push_back(static_cast<char>(v));
    return s;
}

// A pattern with its wildcards filled with `fill`.
std::string Spell(const CommandPattern& p, int fill) {
    std::string s;
    for (int b : p.bytes) s.push_back(static_cast<char>(b < 0 ? fill : b));
    return s;
}

struct Variant {
    const char* name;
    std::vector<int> bauds;
    bool tcp;
};

const std::vector<Variant>& Variants() {
    static const std::vector<Variant> v = {
        {"default speeds", DefaultBauds(), false},
        {"one speed", {9600}, false},
        {"two speeds", {2400, 115200}, false},
        {"tcp", {}, true},
    };
    return v;
}

}  // namespace

TEST(DetectGuard, NoCommandAnywhereInTheStreamOfAnyScan) {
    for (const Variant& v : Variants()) {
        SCOPED_TRACE(v.name);
        const std::string stream = PlanStream(BuildPlan(v.bauds, v.tcp));
        ASSERT_FALSE(stream.empty());
        // A second scan right after the first: the seam counts too.
        for (const std::string& s : {stream, stream + stream}) {
            for (const CommandHit& hit : FindCommands(s))
                ADD_FAILURE() << hit.what << " at offset " << hit.offset << " of " << s.size();
        }
    }
}

// A scan cut short (a scale found, the bound reached, the line lost) sends a
// prefix of its stream, ending after any request; the next scan may follow.
TEST(DetectGuard, NoCommandWhereAScanCutShortMeetsTheNext) {
    for (const Variant& first : Variants()) {
        const Plan plan = BuildPlan(first.bauds, first.tcp);
        for (const Variant& next : Variants()) {
            SCOPED_TRACE(std::string(first.name) + " then " + next.name);
            const std::string following = PlanStream(BuildPlan(next.bauds, next.tcp));
            std::string prefix;
            for (const Step& step : plan.steps) {
                prefix += step.request;
                for (const CommandHit& hit : FindCommands(prefix + following, prefix.size()))
                    ADD_FAILURE() << hit.what << " after " << prefix.size() << " bytes";
            }
        }
    }
}

// Table-driven over every pattern: planted between two scans (wildcards
// filled with several values) it is found, so an empty result above means
// something.
TEST(DetectGuard, EveryPatternIsFoundWherePlanted) {
    const std::string stream = PlanStream(BuildPlan({9600}, false));
    for (const CommandPattern& p : CommandPatterns()) {
        for (int fill : {0x00, 0x05, 0x39, 0xFF}) {
            const std::string command = Spell(p, fill);
            SCOPED_TRACE(std::string(p.what) + " fill " + std::to_string(fill));
            const std::string planted = stream + command + stream;
            bool found = false;
            for (const CommandHit& hit : FindCommands(planted))
                found = found || (hit.offset == stream.size() && hit.length == command.size());
            EXPECT_TRUE(found);
        }
    }
}

TEST(DetectGuard, CommandsAcrossBoundariesAndInsideRequests) {
    struct Case {
        const char* name;
        std::string stream;
        bool command;
    };
    const Case cases[] = {
        // A read ending in 00 00 followed by one starting with 01 is a tare.
        {"long read then CAS-LP read", Bytes({0, 0, 3, 0, 0, 0, 0, 0, 0x01, 0x89}), true},
        {"long read then a Modbus read", Bytes({0, 0, 3, 0, 0, 0, 0, 0, 0x01, 0x03}), true},
        {"long read then KELI read (price head)", Bytes({0, 0, 3, 0, 0, 0, 0, 0, 0x02, 0x42, 0x03, 0x05, 0x11, 0x01, 0x00}), true},
        {"long read then VN read", Bytes({0, 0, 3, 0, 0, 0, 0, 0, 0x3C, 0x00, 0x21, 0x3E}), false},
        // The Radwag reads "SUI" CR LF, which ends in its own tare; the Axis
        // read "SI" CR LF is a tare to the Radwag.
        {"Radwag read", "SUI\r\n", false},
        {"Axis read", "SI\r\n", true},
        {"Radwag read after a stray S", "SSUI\r\n", false},
        {"A12 tare letter inside text", "G01WT\r\n", true},
        {"VN ack at another address", Bytes({0x3C, 0x07, 0x41, 0x3E}), true},
        {"VN read", Bytes({0x3C, 0x00, 0x21, 0x3E}), false},
        {"KELI zero across two reads", Bytes({0x02, 0x40, 0x02}) + Bytes({0x45, 0x03}), true},
        {"UNS read then a tare byte", Bytes({0x2A, 0x03, 0x2A, 0x01}), true},
        {"Modbus reads", Bytes({1, 3, 0, 3, 0, 4, 0xB4, 0x09, 1, 3, 0, 2, 0, 3, 0xA4, 0x0B}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(!FindCommands(c.stream).empty(), c.command);
    }
}

TEST(DetectGuard, ModbusWritesToAnySlaveWithAValidCrc) {
    struct Case {
        const char* name;
        std::vector<uint8_t> frame;  // without CRC
        bool goodCrc;
        bool command;
    };
    const Case cases[] = {
        {"write register, slave 7", {0x07, 0x06, 0x00, 0x10, 0x12, 0x34}, true, true},
        {"write coil, slave 1", {0x01, 0x05, 0x00, 0x01, 0xFF, 0x00}, true, true},
        {"write registers", {0x01, 0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02}, true, true},
        {"write register, CRC wrong", {0x07, 0x06, 0x00, 0x10, 0x12, 0x34}, false, false},
        {"read registers", {0x01, 0x03, 0x00, 0x02, 0x00, 0x03}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string s("\x47\x31\x0D\x0A", 4);  // something before it
        const uint16_t crc = zel::Crc16Modbus(c.frame.data(), c.frame.size()) ^ (c.goodCrc ? 0 : 0x0101);
        for (uint8_t b : c.frame) s.push_back(static_cast<char>(b));
        s.push_back(static_cast<char>(crc & 0xFF));
        s.push_back(static_cast<char>(crc >> 8));
        EXPECT_EQ(!FindCommands(s).empty(), c.command);
    }
    // The two fixed writes of the driver carry their CRC.
    const uint8_t bst[] = {0x01, 0x06, 0x00, 0x07, 0xA5, 0x0B};
    EXPECT_EQ(zel::Crc16Modbus(bst, sizeof bst), 0x9C02);
}

TEST(DetectPlan, BoundCoversEveryWindowAndSend) {
    for (const Variant& v : Variants()) {
        SCOPED_TRACE(v.name);
        const Plan plan = BuildPlan(v.bauds, v.tcp);
        long sum = 0;
        for (const Step& s : plan.steps) {
            EXPECT_GT(s.windowMs, 0);
            sum += s.windowMs + SendMs(s);
        }
        EXPECT_GE(PlanBoundMs(plan), sum + kOpenMs);
    }
    // A full scan of the usual speeds stays within about a minute and a
    // half, a long window for the operator's presses at each speed and
    // framing of a pushing scale included.
    EXPECT_LE(PlanBoundMs(BuildPlan(DefaultBauds(), false)), 105000);
}

// A scale that sends on a key press is heard by two presses up to
// kPressGapMs apart: one long window per speed and framing such a scale uses
// (never one per model), after the requests, each held in the bound along
// with the second window that waits the gap after a first press.
TEST(DetectPlan, OnePressWindowPerSpeedAndFramingOfAPushingScale) {
    struct Case {
        const char* name;
        std::vector<int> bauds;
        bool tcp;
        size_t windows;
    };
    // Models 5, 6, 15 and 32 use 8N1, model 22 8E1; over TCP one window.
    const Case cases[] = {
        {"one speed", {9600}, false, 2},
        {"default speeds", DefaultBauds(), false, 8},
        {"tcp", {}, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Plan plan = BuildPlan(c.bauds, c.tcp);
        size_t windows = 0;
        bool probed = false;
        long listened = 0;
        for (const Step& s : plan.steps) {
            probed = probed || !s.listen;
            if (!s.presses) continue;
            ++windows;
            EXPECT_TRUE(s.listen);
            EXPECT_TRUE(probed) << "a press window before the requests";
            EXPECT_GE(s.windowMs, kPressGapMs);
            EXPECT_TRUE(std::find(s.models.begin(), s.models.end(), 22) != s.models.end());
            listened += s.windowMs;
        }
        EXPECT_EQ(windows, c.windows);
        long sum = 0;
        for (const Step& s : plan.steps) sum += s.windowMs + SendMs(s);
        // The second window lasts the longest gap between two presses.
        EXPECT_GE(kSecondWindowMs, kPressGapMs);
        EXPECT_GE(PlanBoundMs(plan), sum + kSecondWindowMs);
    }
}

// Every model with a line is either listened for or asked at every speed,
// or named as left out with the reason; only the Axis read is left out.
TEST(DetectPlan, EveryModelIsCoveredAtEverySpeedOrNamed) {
    const std::vector<int> bauds = {9600, 2400};
    const Plan plan = BuildPlan(bauds, false);
    ASSERT_EQ(plan.skipped.size(), 1u);
    EXPECT_EQ(plan.skipped[0].rfind("model 9:", 0), 0u) << plan.skipped[0];
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    for (size_t i = 0; i < count; ++i) {
        const zel::devices::ModelInfo& row = rows[i];
        if (row.kind != zel::devices::ModelKind::kPolled && row.kind != zel::devices::ModelKind::kListener) continue;
        if (row.number == 9) continue;
        for (int baud : bauds) {
            SCOPED_TRACE("model " + std::to_string(row.number) + " at " + std::to_string(baud));
            bool covered = false;
            for (const Step& s : plan.steps) {
                if (s.baud != baud) continue;
                // Asked with its own framing, or listened for at any.
                for (int m : s.models) covered = covered || (m == row.number && (s.listen || s.line == row.line));
            }
            EXPECT_TRUE(covered);
        }
    }
    // Requests that several models share go out once per framing and speed.
    std::set<std::string> seen;
    for (const Step& s : plan.steps) {
        if (s.listen) continue;
        const std::string key = std::to_string(s.baud) + zel::LineName(s.line) + s.request;
        EXPECT_TRUE(seen.insert(key).second) << GroupName(s.models);
    }
}

TEST(DetectJudge, FormatsWithoutChecksNeedTheirShapeAndLength) {
    Step vta;  // 00 00 03 at 8E1 is the VTA-60 and ICS NT read
    vta.models = {0, 30};
    std::string digitValues(18, '\0');
    digitValues[0] = 4;
    digitValues[1] = 3;
    std::string digitText(18, '0');
    digitText[17] = '-';
    struct Case {
        const char* name;
        Step step;
        std::string reply;
        std::string models;  // GroupName, "" for none
    };
    Step camry;
    camry.models = {17, 21};
    Step massa;
    massa.models = {10};
    const Case cases[] = {
        {"digit values", vta, digitValues, "0"},
        {"digit text", vta, digitText, "30"},
        {"digit text one byte long", vta, digitText + "0", ""},
        {"letters", vta, std::string(18, 'A'), ""},
        {"17 digits for the shared long read", camry, std::string(17, '1'), "17/21"},
        {"18 digits for the long read", camry, std::string(18, '1'), ""},
        {"two bytes", massa, "\xD2\x04", "10"},
        {"three bytes", massa, std::string("\xD2\x04\x00", 3), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GroupName(Judge(c.step, c.reply).models), c.models);
    }
}

TEST(DetectJudge, HeardFrames) {
    Step heard;
    heard.listen = true;
    heard.models = {5, 32, 6, 15, 22, 29};
    const std::string vn = Bytes({0x3C, 0x00, 0x00, 0x12, 0x34, 0x03, 0x3E});
    const std::string tara = vn + Bytes({0x3D, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x3E});
    struct Case {
        const char* name;
        std::string bytes;
        std::string models;
    };
    const std::string scanner = "<001234\x03" "4820000000017\r";
    const std::string text = "  1.234\r  12.50\r  15.43\r\n";
    // A scale that pushes readings is named by two of them; one could be
    // chance, and gets a second window (OneReadingHeard).
    const Case cases[] = {
        {"VN weight frames", vn + vn, "5"},
        {"one VN weight frame", vn, ""},
        {"VN weight frame with tare", tara + tara, "32"},
        {"one VN weight frame with tare", tara, ""},
        {"scanner lines", scanner + scanner, "6"},
        {"one scanner line", scanner, ""},
        {"text frames", text + text, "15"},
        {"one text frame", text, ""},
        {"one digit-value frame", std::string(18, '\x01'), ""},
        {"digit values, two frames", std::string(36, '\x01'), "22"},
        {"digit values, a frame and a half", std::string(27, '\x01'), ""},
        {"T7E, two frames", "=432.100=432.100", "29"},
        {"T7E marker with other bytes", "=\x01\x02\x03\x04\x05\x06\x07=\x01\x02\x03\x04\x05\x06\x07", ""},
        {"noise", "\xFF\xFE\x00\x12", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GroupName(Judge(heard, c.bytes).models), c.models);
    }
    // The readings come through the driver's decoders.
    Finding vnFound = Judge(heard, vn + vn);
    EXPECT_NEAR(vnFound.verdict.reading.weight, 1.234, 1e-9);  // digits 001234, three decimals
    for (const std::string& one : {vn, tara, scanner, text, std::string(18, '\x01')}) {
        EXPECT_TRUE(OneReadingHeard(heard, one)) << one.size();
        EXPECT_FALSE(OneReadingHeard(heard, one + one)) << one.size();
    }
    EXPECT_FALSE(OneReadingHeard(heard, "\xFF\xFE\x00\x12"));
}

// Every model whose tare, zero or price reaches its scale puts bytes on the
// line for it and owns a pattern; a polled model that sends nothing beside
// its request owns none (an event-driven one may still acknowledge). The
// emulator has no line.
TEST(DetectGuard, EveryModelThatSendsCommandsOwnsAPattern) {
    using zel::devices::Command;
    using zel::devices::Delivery;
    using zel::devices::ModelKind;
    std::set<int> owners;
    for (const CommandPattern& p : CommandPatterns()) owners.insert(p.owners.begin(), p.owners.end());
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    for (size_t i = 0; i < count; ++i) {
        const zel::devices::ModelInfo& row = rows[i];
        if (row.kind == ModelKind::kEmulator) continue;
        SCOPED_TRACE("model " + std::to_string(row.number));
        bool sends = false;
        for (Command c : {Command::kTare, Command::kZero, Command::kPrice}) {
            const Delivery d = zel::devices::DeliveryOf(row.number, c);
            sends = sends || d == Delivery::kUnconfirmed || d == Delivery::kConfirmed;
        }
        if (sends) {
            EXPECT_EQ(owners.count(row.number), 1u);
        }
        if (!sends && row.kind != ModelKind::kListener) {
            EXPECT_EQ(owners.count(row.number), 0u);
        }
    }
}

// Table-driven over every pattern and every place a request boundary can
// cut it: asked to look only from the boundary on, the matcher still finds
// the command, from one wholly after the boundary to one that ends on the
// boundary's first byte.
TEST(DetectGuard, EveryPatternIsFoundAcrossEveryBoundary) {
    const std::string before = PlanStream(BuildPlan({9600}, false));
    std::vector<std::pair<std::string, std::string>> commands;
    for (const CommandPattern& p : CommandPatterns()) commands.push_back({p.what, Spell(p, 0x05)});
    // Modbus writes to another slave, caught by their CRC alone.
    for (std::vector<uint8_t> frame : {std::vector<uint8_t>{0x07, 0x06, 0x00, 0x10, 0x12, 0x34},
                                       std::vector<uint8_t>{0x01, 0x10, 0x00, 0x01, 0x00, 0x01, 0x02, 0x00, 0x0A}}) {
        const uint16_t crc = zel::Crc16Modbus(frame.data(), frame.size());
        frame.push_back(static_cast<uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        commands.push_back({"Modbus write", std::string(frame.begin(), frame.end())});
    }
    for (const auto& c : commands) {
        const std::string& command = c.second;
        for (size_t sentBefore = 0; sentBefore < command.size(); ++sentBefore) {
            SCOPED_TRACE(c.first + ", " + std::to_string(sentBefore) + " of its bytes before the boundary");
            const std::string s = before + command;
            bool found = false;
            for (const CommandHit& hit : FindCommands(s, before.size() + sentBefore))
                found = found || (hit.offset == before.size() && hit.length == command.size());
            EXPECT_TRUE(found);
        }
    }
}

// A probe that is answered goes out again for its second reply: a scan that
// repeats any one request up to 1 + kConfirmTries times, then goes on (or is
// cut short there and followed by another scan), spells no command either.
TEST(DetectGuard, NoCommandWhenAnsweredRequestsGoOutAgain) {
    for (const Variant& v : Variants()) {
        SCOPED_TRACE(v.name);
        const Plan plan = BuildPlan(v.bauds, v.tcp);
        const std::string following = PlanStream(plan);
        std::string prefix;
        for (size_t i = 0; i < plan.steps.size(); ++i) {
            prefix += plan.steps[i].request;
            if (plan.steps[i].listen) continue;
            std::string rest;
            for (size_t j = i + 1; j < plan.steps.size(); ++j) rest += plan.steps[j].request;
            std::string again;
            for (int k = 0; k < kConfirmTries; ++k) {
                again += plan.steps[i].request;
                for (const std::string& after : {rest, std::string(), following})
                    for (const CommandHit& hit : FindCommands(prefix + again + after, prefix.size()))
                        ADD_FAILURE() << GroupName(plan.steps[i].models) << " sent " << k + 2 << " times: " << hit.what;
            }
        }
    }
}

// What comes back after a request, judged as the scan judges it: an echo of
// what was sent is never a reply, a reply is one frame, and a frame behind an
// echo is still found.
TEST(DetectJudge, RepliesAreOneFrameAndNeverAnEcho) {
    const Plan plan = BuildPlan({9600}, false);
    const Step* hbm = nullptr;
    const Step* iq = nullptr;
    const Step* massa = nullptr;
    std::string sentHbm, sentIq, sentMassa, sent;
    for (const Step& s : plan.steps) {
        sent += s.request;
        if (s.models == std::vector<int>{26}) hbm = &s, sentHbm = sent;
        if (s.models == std::vector<int>{24}) iq = &s, sentIq = sent;
        if (s.models == std::vector<int>{10}) massa = &s, sentMassa = sent;
    }
    ASSERT_TRUE(hbm && iq && massa);
    const std::string hbmFrame = "   1234\r\n";
    const std::string iqFrame = "XN\r\n  \n 1.234kg\r\n";  // begins with its own request
    const std::string page = "HTTP/1.1 400 Bad Request\r\nServer: x\r\n\r\n<html>\r\n<hr>\r\n</html>\r\n";
    struct Case {
        const char* name;
        const Step* step;
        std::string sent;
        std::string received;
        std::string models;
    };
    const Case cases[] = {
        {"HBM frame", hbm, sentHbm, hbmFrame, "26"},
        {"HBM frame without its LF", hbm, sentHbm, "   1234\r", "26"},
        {"echo of the HBM request", hbm, sentHbm, hbm->request, ""},
        {"echo twice", hbm, sentHbm, hbm->request + hbm->request, ""},
        {"echo cut short", hbm, sentHbm, hbm->request.substr(0, 5), ""},
        {"echo of the last two requests", hbm, sentHbm, sentHbm.substr(sentHbm.size() - hbm->request.size() - 4), ""},
        {"echo, then the frame", hbm, sentHbm, hbm->request + hbmFrame, "26"},
        {"bytes sent earlier in the scan", hbm, sentHbm, sentHbm.substr(4, 8), ""},
        {"an error page", hbm, sentHbm, page, ""},
        {"a frame with text after it", hbm, sentHbm, hbmFrame + "OK\r\n", ""},
        {"IQ frame", iq, sentIq, iqFrame, "24"},
        {"echo of the IQ request", iq, sentIq, iq->request, ""},
        {"an IQ frame with noise before it", iq, sentIq, "\x01\x7F" + iqFrame, ""},
        {"echo, then the IQ frame", iq, sentIq, iq->request + iqFrame, "24"},
        {"Massa-K reply", massa, sentMassa, "\xD2\x04", "10"},
        {"Massa-K zero", massa, sentMassa, std::string(2, '\0'), "10"},
        {"echo of the Massa-K request", massa, sentMassa, massa->request, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GroupName(JudgeReceived(*c.step, c.received, c.sent).models), c.models);
    }
}

TEST(DetectJudge, HeardFramesMustStandOnTheirOwn) {
    Step heard;
    heard.listen = true;
    heard.models = {6, 29};
    const std::string scanner = "<001234\x03" "4820000000017\r";
    const std::string t7e = "=432.100";
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<size_t> bursts;
        std::string models;
    };
    const Case cases[] = {
        {"two pushed readings", scanner + scanner, {scanner.size()}, "6"},
        {"two readings back to back", scanner + scanner, {}, "6"},
        {"readings inside noise", "\x17\x91" + scanner + "\x05\x44" + scanner + "\x80", {}, ""},
        {"readings after noise, each its own burst", "\x17\x91" + scanner + scanner, {2, 2 + scanner.size()}, "6"},
        {"a stream joined in a frame", t7e.substr(3) + t7e + t7e + t7e + t7e.substr(0, 4), {}, "29"},
        {"a stream frame inside noise", "\x90" + t7e + "\x91\x92" + t7e + "\x93", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GroupName(Judge(heard, c.bytes, c.bursts).models), c.models);
    }
}

TEST(DetectJudge, ASecondReplyConfirmsTheModelsOfTheFirst) {
    Finding first, second;
    first.models = {13, 27};
    second.models = {27};
    second.verdict.reading.weight = 2.5;
    const Finding both = Confirmed(first, second);
    EXPECT_EQ(GroupName(both.models), "27");
    EXPECT_EQ(both.verdict.reading.weight, 2.5);
    second.models = {14};
    EXPECT_TRUE(Confirmed(first, second).models.empty());
}

TEST(DetectSettings, CoefficientAndWeighCommand) {
    EXPECT_EQ(CoefficientText(1.0), "1");
    EXPECT_EQ(CoefficientText(0.001), "0.001");
    EXPECT_EQ(CoefficientText(0.000001), "0.000001");  // mg: no exponent, which --coeff would misread
    struct Case {
        int model;
        std::string port;
        std::string command;
    };
    const Case cases[] = {
        {14, "/dev/ttyUSB0", "zelscales weigh --port /dev/ttyUSB0 --model 14 --baud 9600 --coeff 0.001"},
        {12, "COM3", "zelscales weigh --port COM3 --model 12 --baud 9600 --coeff 0.000001"},
        {22, "/dev/ttyS0", "zelscales listen --port /dev/ttyS0 --model 22 --baud 9600 --coeff 1"},
        {13, "/tmp/my line's", "zelscales weigh --port '/tmp/my line'\\''s' --model 13 --baud 9600 --coeff 1"},
        {35, "", "zelscales weigh --host 127.0.0.1 --tcp-port 20108 --model 35 --coeff 1"},
    };
    for (const Case& c : cases) EXPECT_EQ(WeighCommand(c.model, c.port, 9600, "127.0.0.1", 20108), c.command);
}

// The guard is the models' own command descriptions and nothing else: each
// description is a pattern owned by its model, and each pattern comes from
// a description of every owner (so a tare changed in a class, which the
// command-pattern test holds against the line, moves the guard with it).
TEST(DetectGuard, PatternsAreTheModelsOwnCommandDescriptions) {
    auto key = [](const std::string& what, const std::vector<int>& bytes) {
        std::string k = what + ":";
        for (int b : bytes) k += std::to_string(b) + ",";
        return k;
    };
    std::set<std::pair<int, std::string>> described, guarded;
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    for (size_t i = 0; i < count; ++i)
        for (const zel::exchange::CommandPattern& c : zel::devices::CommandsOf(rows[i].number))
            described.insert({rows[i].number, key(c.what, c.bytes)});
    for (const CommandPattern& p : CommandPatterns())
        for (int owner : p.owners) guarded.insert({owner, key(p.what, p.bytes)});
    EXPECT_EQ(guarded, described);
    EXPECT_GE(described.size(), 25u);
}

// A group names only the models that read the reply as the scale shows it:
// model 12 read a K9's "  1.234" as 0 mg where model 38 reads 1.234 kg.
TEST(DetectJudge, AGroupNamesOnlyTheModelsThatReadTheReplyAlike) {
    Step dFrame;  // 02 41 'D' "05" 03: the DS2 and K9 read
    dFrame.models = {12, 38};
    auto frame = [](const std::string& field) {
        std::string f = std::string("\x02\x41") + "D+" + field;
        uint8_t x = 0;
        for (size_t i = 1; i < f.size(); ++i) x ^= static_cast<uint8_t>(f[i]);
        const char* hex = "0123456789ABCDEF";
        return f + hex[x >> 4] + hex[x & 15] + "\x03";
    };
    const struct {
        const char* name;
        std::string reply;
        std::string models;
        double weight;  // of the first named model
    } cases[] = {
        {"DS2 field: 1.234 kg on both", frame("001.234"), "12/38", 1234000},
        {"K9 field: only the K9 reads it", frame("  1.234"), "38", 1.234},
        {"digits alone: grams on 12, kilograms on 38", frame("0001234"), "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Finding f = Judge(dFrame, c.reply);
        EXPECT_EQ(GroupName(f.models), c.models);
        if (f.models.empty()) {
            EXPECT_NE(f.why.find("12/38: the reply reads differently"), std::string::npos) << f.why;
            continue;
        }
        EXPECT_DOUBLE_EQ(f.verdict.reading.weight, c.weight);
    }
}
