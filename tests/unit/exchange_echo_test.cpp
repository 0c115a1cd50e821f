// Lines that hand back what the driver sends: a loopback plug, an RS-485
// adapter hearing its own transmission, a converter in echo mode. Every
// polled model's own description runs on a scripted line that echoes each
// write; an echo ahead of a healthy reply is skipped, an echo alone is never
// a reading, and a command that expects a reply is confirmed by it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Crc.h"
#include "devices/ModelTable.h"
#include "scales/Cas.h"
#include "scales/Modbus.h"
#include "scales/exchange/Exchange.h"
#include "scales/exchange/PolledScale.h"
#include "tests/unit/exchange_scripted_line.h"
#include "tests/unit/vta_frames.h"
#ifndef _WIN32
#include "sim/Models.h"
#endif

using zel::exchange::CommandSpec;
using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
using zel::exchange::RunCommand;
using zel::exchange::RunReadCycle;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes WithCrc(Bytes f) {
    const uint16_t crc = zel::Crc16Modbus(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

// The description of a polled model, from the model table.
const PolledProtocol* ProtocolOf(int model) { return zel::devices::PolledProtocolOf(model); }

Bytes RequestOf(const PolledProtocol& p) { return Bytes(p.request, p.request + p.requestLength); }

// A scale on the scripted line. It answers each complete request with
// `reply` (for a split send, the reply's first byte answers the first
// request byte and the rest follows the rest); with `echo` the line first
// hands every write straight back.
void Attach(ScriptedLine& line, const PolledProtocol& p, const Bytes& reply, bool echo) {
    auto sent = std::make_shared<Bytes>();
    const Bytes request = RequestOf(p);
    line.onWrite = [=](ScriptedLine& l, const Bytes& bytes) {
        if (echo) l.Arrive(0, bytes);
        sent->insert(sent->end(), bytes.begin(), bytes.end());
        if (reply.empty()) return;
        if (p.splitSend && *sent == Bytes(request.begin(), request.begin() + 1)) {
            l.Arrive(3, {reply[0]});
        } else if (*sent == request) {
            l.Arrive(p.splitSend ? 2 : 5, p.splitSend ? Bytes(reply.begin() + 1, reply.end()) : reply);
            sent->clear();
        }
    };
}

struct Healthy {
    int model;
    Bytes reply;
    double weight, price, cost;
};

// A healthy reply of every polled model whose reply cannot begin with its
// request, with the reading it gives.
#ifndef _WIN32
void AddSimulatedReplies(std::vector<Healthy>& out);
#endif

std::vector<Healthy> HealthyReplies() {
    const Bytes camry = B("432100" "05210" "083100");
    const Bytes dframe = B("\x02@D-0012343" "1E\x03");  // its check characters: the XOR of @D-0012343
    std::vector<Healthy> out = {
        {1, B(std::string("<\x00" "001234\x06>", 10)), 12340, 0, 0},
        {2, B(" " "      1.234" "\r\n"), 1234, 0, 0},
        {3, B("R01W-0.500\rx"), -0.5, 0, 0},
        {4, B(std::string("<\x00\x00\x12\x34\x23>", 7)), -1234, 0, 0},
        {7, dframe, -1234, 0, 0},
        {8, B("w0   -1.234\r\n"), -1234, 0, 0},
        {9, B("  -12.5kg 0000\r\n"), -12500, 0, 0},
        {11, B("81050027:  1.234 kg\r\n"), 1234, 0, 0},
        {12, B("\x02" "AD+001.234" "04\x03"), 1234000, 0, 0},  // with its check
        {13, B("\x06\x01\x02S  1.234kg \x03\x04"), 1.234, 0, 0},
        {16, B("\x02NW:  1.234\x03"), 1.234, 0, 0},
        {17, camry, 1.234, 12.5, 13.8},
        {21, camry, 1.234, 12.5, 13.8},
        {26, B("  1.234\r\n"), 1.234, 0, 0},
        {27, B("\x06\x01\x02S  1.234kg \x03\x04"), 1.234, 0, 0},
        {28, Bytes{4, 3, 2, 1, 0, 0, 0, 5, 2, 1, 0, 0, 0, 8, 3, 1, 0, 0}, 1.234, 12.5, 13.8},
        {30, B("432100" "005210" "083100"), 1.234, 12500, 1380},
        {35, B("SUI? -   1.2340 kg \r\n"), -1.234, 0, 0},
        {37, B("     1.234\r\n"), 1.234, 0, 0},
        {38, B("\x02" "AD+ 12.345" "11\x03"), 12.345, 0, 0},  // with its check
        {40, WithCrc({0x01, 0x03, 0x08, '0', '0', '1', '2', '3', '4', '5', '3'}), 12.345, 0, 0},
        {41, WithCrc({0x01, 0x03, 0x06, 0x00, 0x00, 0x04, 0xD2, 0x20, 0x00}), 1234, 0, 0},
    };
#ifndef _WIN32
    AddSimulatedReplies(out);
#endif
    return out;
}

// Models whose genuine reply may begin with what the line echoes: no echo
// can be skipped for them.
const int kReplyMayStartWithRequest[] = {0, 10, 14, 23, 24};

#ifndef _WIN32
// Every other polled model with a request that the table above leaves out
// (a model added since): the simulator's frame of a stable 1.234 kg, read
// once on a clean line for the values an echoing line must give as well.
void AddSimulatedReplies(std::vector<Healthy>& out) {
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    for (size_t i = 0; i < count; ++i) {
        const int model = rows[i].number;
        const PolledProtocol* p = ProtocolOf(model);
        const sim::SimModel* s = sim::FindSimModel(model);
        if (!p || !s || p->requestLength == 0 || p->replyMayStartWithRequest) continue;
        bool listed = false;
        for (const Healthy& h : out) listed = listed || h.model == model;
        if (listed) continue;
        sim::Display d;
        d.weight = 1.234;
        const std::string frame = s->encode(d);
        Healthy h{model, B(frame), 0, 0, 0};
        ScriptedLine line;
        ScriptedSession session;
        Attach(line, *p, h.reply, false);
        Reading io;
        if (RunReadCycle(*p, line, session, io) != 0) ADD_FAILURE() << "model " << model << ": its frame is not read";
        h.weight = io.weight;
        h.price = io.price;
        h.cost = io.cost;
        out.push_back(h);
    }
}
#endif

}  // namespace

TEST(EchoingLine, EchoAheadOfAHealthyReplyIsSkipped) {
    // Each model reads the same with and without an echo, at its first
    // request (the two that always ask three times: three answered
    // requests), with no budget spent on the echo.
    for (const Healthy& h : HealthyReplies()) {
        const PolledProtocol* p = ProtocolOf(h.model);
        ASSERT_NE(p, nullptr) << h.model;
        ASSERT_GT(p->requestLength, 0) << h.model;
        EXPECT_FALSE(p->replyMayStartWithRequest) << h.model;
        for (bool echo : {false, true}) {
            SCOPED_TRACE(testing::Message() << "model " << h.model << (echo ? ", echoing line" : ", clean line"));
            ScriptedLine line;
            ScriptedSession session;
            Attach(line, *p, h.reply, echo);
            Reading io;
            EXPECT_EQ(RunReadCycle(*p, line, session, io), 0);
            EXPECT_DOUBLE_EQ(io.weight, h.weight);
            EXPECT_DOUBLE_EQ(io.price, h.price);
            EXPECT_DOUBLE_EQ(io.cost, h.cost);
            const size_t requests = p->stopOnSuccess ? 1 : static_cast<size_t>(p->attempts);
            EXPECT_EQ(line.writes.size(), requests * (p->splitSend ? 2 : 1));
            EXPECT_LE(line.now, requests * 20);
            EXPECT_EQ(session.releases, 1);
        }
    }
}

TEST(EchoingLine, EveryModelWithARequestIsDecidedOn) {
    // A polled model with a request is either read behind an echo (above)
    // or marked as one whose reply may begin with its request.
    const std::vector<Healthy> healthy = HealthyReplies();
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].kind != zel::devices::ModelKind::kPolled) continue;
        const PolledProtocol* p = ProtocolOf(rows[i].number);
        ASSERT_NE(p, nullptr) << rows[i].number;
        if (p->requestLength == 0) continue;
        bool read = false;
        for (const Healthy& h : healthy) read = read || h.model == rows[i].number;
        bool marked = false;
        for (int m : kReplyMayStartWithRequest) marked = marked || m == rows[i].number;
        EXPECT_NE(read, marked) << rows[i].number;
        EXPECT_EQ(p->replyMayStartWithRequest, marked) << rows[i].number;
    }
}

namespace {

const uint8_t kFourBytes[] = {0x02, 0x31, 0x32, 0x03};
bool AnyFrame(const uint8_t*, size_t) { return true; }
zel::exchange::Decoded ReadOne(const uint8_t*, size_t, Reading& out) {
    out.weight = 1.0;
    return 0;
}

}  // namespace

TEST(EchoingLine, LoopbackAloneIsNoReading) {
    // Nothing but the line's own echo: every model with a request ends with
    // 3 and the outputs untouched, also one whose frame the echo fills and
    // whose reply may begin with its request.
    const PolledProtocol filled = {.request = kFourBytes,
                                   .requestLength = 4,
                                   .replyMayStartWithRequest = true,
                                   .replyLength = 4,
                                   .accepts = AnyFrame,
                                   .decode = ReadOne};
    std::vector<std::pair<int, const PolledProtocol*>> cases = {{-1, &filled}};
    size_t count = 0;
    const zel::devices::ModelInfo* rows = zel::devices::AllModels(&count);
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].kind != zel::devices::ModelKind::kPolled) continue;
        const PolledProtocol* p = ProtocolOf(rows[i].number);
        if (p && p->requestLength > 0) cases.push_back({rows[i].number, p});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.first);
        ScriptedLine line;
        ScriptedSession session;
        Attach(line, *c.second, {}, /*echo=*/true);
        Reading io;
        EXPECT_EQ(RunReadCycle(*c.second, line, session, io), 3);
        EXPECT_EQ(io.weight, 0.0);
        EXPECT_EQ(io.price, 0.0);
        EXPECT_EQ(io.cost, 0.0);
        EXPECT_EQ(session.disconnects, 0);
    }
}

TEST(EchoingLine, SplitSendBehindAnEcho) {
    // ENQ comes straight back, then the CAS scale's ACK: the echo is no
    // answer, the ACK is, and DC1 goes out the moment it lands. A loopback
    // plug gets the whole pause and no reading.
    struct Case {
        const char* name;
        int ackAfter;  // ms after ENQ; -1: no ACK, the whole frame after DC1
        bool scale;    // false: a loopback plug, nothing behind it
        uint64_t restAt;
        int32_t result;
        size_t writes;
    };
    const Case cases[] = {
        {"ACK at once", 3, true, 3, 0, 2},
        {"ACK after 40 ms", 40, true, 40, 0, 2},
        {"frame only after DC1", -1, true, 150, 0, 2},
        {"loopback plug", -1, false, 150, 3, 6},
    };
    const Bytes frame = B("\x06\x01\x02S  1.234kg \x03\x04");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        line.onWrite = [&](ScriptedLine& l, const Bytes& bytes) {
            l.Arrive(0, bytes);
            if (!c.scale) return;
            if (bytes == Bytes{0x05} && c.ackAfter >= 0) l.Arrive(c.ackAfter, {0x06});
            if (bytes == Bytes{0x11}) l.Arrive(2, c.ackAfter >= 0 ? Bytes(frame.begin() + 1, frame.end()) : frame);
        };
        Reading io;
        EXPECT_EQ(RunReadCycle(zel::cas::kCasProtocol, line, session, io), c.result);
        EXPECT_DOUBLE_EQ(io.weight, c.result == 0 ? 1.234 : 0.0);
        ASSERT_EQ(line.writes.size(), c.writes);
        for (size_t i = 0; i + 1 < line.writes.size(); i += 2) {
            EXPECT_EQ(line.writes[i].bytes, Bytes{0x05});
            EXPECT_EQ(line.writes[i + 1].bytes, Bytes{0x11});
            EXPECT_EQ(line.writes[i + 1].at - line.writes[i].at, c.restAt);
        }
    }
}

namespace {

// A command answered with "OK" CR LF: an echo of it may be skipped.
const uint8_t kOkCommand[] = {'T', '\r'};
bool IsOk(const uint8_t* f, size_t n) { return n == 4 && f[0] == 'O' && f[1] == 'K' && f[2] == '\r' && f[3] == '\n'; }
const CommandSpec kOkSpec = {.bytes = kOkCommand, .length = 2, .replyLength = 4, .confirms = IsOk};

Bytes BytesOf(const CommandSpec& c) { return Bytes(c.bytes, c.bytes + c.length); }

}  // namespace

TEST(ConfirmedCommands, ReplyDecidesTheResult) {
    // The Modbus writes of models 41 and 40 are answered with the write
    // itself; a generic command with a reply of its own. 0 only when the
    // right reply came within the budget, after the pause.
    const Bytes bst = BytesOf(zel::modbus::kBst106TareCommand);
    const Bytes d12 = BytesOf(zel::modbus::kD12ZeroCommand);
    const Bytes exception = WithCrc({0x01, 0x86, 0x02});
    Bytes otherRegister = d12;
    otherRegister[3] = 0x02;
    otherRegister = WithCrc(Bytes(otherRegister.begin(), otherRegister.begin() + 6));
    struct Case {
        const char* name;
        const CommandSpec* command;
        Bytes stale;  // on the line before the command
        bool echo;
        Bytes reply;  // the scale's answer, 5 ms after the write
        int32_t result;
        uint64_t minMs, maxMs;
    };
    const Case cases[] = {
        {"bst106 confirmed", &zel::modbus::kBst106TareCommand, {}, false, bst, 0, 150, 160},
        {"bst106 dead line", &zel::modbus::kBst106TareCommand, {}, false, {}, 3, 450, 460},
        {"bst106 exception", &zel::modbus::kBst106TareCommand, {}, false, exception, 3, 450, 460},
        {"bst106 reply of the d12", &zel::modbus::kBst106TareCommand, {}, false, d12, 3, 150, 160},
        {"d12 confirmed", &zel::modbus::kD12ZeroCommand, {}, false, d12, 0, 150, 160},
        {"d12 dead line", &zel::modbus::kD12ZeroCommand, {}, false, {}, 3, 650, 660},
        {"d12 other register", &zel::modbus::kD12ZeroCommand, {}, false, otherRegister, 3, 150, 160},
        {"d12 stale bytes are drained first", &zel::modbus::kD12ZeroCommand, {0x55, 0x01, 0x06}, false, d12, 0, 150,
         160},
        {"d12 behind an echoing adapter", &zel::modbus::kD12ZeroCommand, {}, true, d12, 0, 150, 160},
        {"own reply confirmed", &kOkSpec, {}, false, B("OK\r\n"), 0, 150, 160},
        {"own reply behind an echo", &kOkSpec, {}, true, B("OK\r\n"), 0, 150, 160},
        {"own reply, loopback plug", &kOkSpec, {}, true, {}, 3, 650, 660},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        if (!c.stale.empty()) line.Arrive(0, c.stale);
        line.onWrite = [&](ScriptedLine& l, const Bytes& bytes) {
            if (c.echo) l.Arrive(0, bytes);
            if (!c.reply.empty()) l.Arrive(5, c.reply);
        };
        EXPECT_EQ(RunCommand(line, session, *c.command), c.result);
        ASSERT_EQ(line.writes.size(), 1u);
        EXPECT_EQ(line.writes[0].bytes, BytesOf(*c.command));
        EXPECT_GE(line.now, c.minMs);
        EXPECT_LE(line.now, c.maxMs);
        EXPECT_EQ(session.releases, 1);
    }
}

using zeltest::VtaReply;

TEST(EchoingLine, ReplyThatMayBeginWithTheRequestIsCountedOut) {
    // Models 0 and 10 answer with bytes that may spell their own request
    // (a VTA-60 weight ending in 300 g starts 00 00 03, a Масса-К weight
    // with the low byte 45): the echo is told apart by the bytes that follow
    // a complete frame, and the same reading comes back on either line.
    struct Case {
        int model;
        Bytes reply;
        double weight;
    } cases[] = {
        {0, VtaReply(1234, 1000, 1234), 1234},
        {0, VtaReply(2300, 1000, 2300), 2300},  // begins with the request
        {10, Bytes{0xD2, 0x04}, 1234},
        {10, Bytes{0x45, 0x01}, 0x145},  // begins with the request
    };
    for (const Case& c : cases) {
        const PolledProtocol* p = ProtocolOf(c.model);
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(p->replyMayStartWithRequest);
        for (bool echo : {false, true}) {
            SCOPED_TRACE(testing::Message() << "model " << c.model << " weight " << c.weight
                                            << (echo ? ", echoing line" : ", clean line"));
            ScriptedLine line;
            ScriptedSession session;
            Attach(line, *p, c.reply, echo);
            Reading io;
            EXPECT_EQ(RunReadCycle(*p, line, session, io), 0);
            EXPECT_DOUBLE_EQ(io.weight, c.weight);
            EXPECT_EQ(line.writes.size(), 1u);
        }
    }
}


TEST(LateReply, HeaderlessFrameIsNeverShiftedByTheRestOfAnEarlierOne) {
    // A header-less reply whose first frame lands late (a host that fell
    // behind, a slow converter) ends its attempt half-collected; the rest of
    // it arrives during the next attempt and must not open that frame. Each
    // case: the first reply starts `late` ms after the request, at one byte
    // every `gap` ms; later replies come at once.
    const Bytes camry = B("432100" "05210" "083100");
    struct Case {
        int model;
        Bytes reply;
        uint64_t late, gap;
    } cases[] = {
        {21, camry, 250, 1},
        {17, camry, 280, 2},
        {21, camry, 100, 20},  // half of it within the budget
        {28, Bytes{4, 3, 2, 1, 0, 0, 0, 5, 2, 1, 0, 0, 0, 8, 3, 1, 0, 0}, 280, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << ", late " << c.late << ", gap " << c.gap);
        const PolledProtocol* p = ProtocolOf(c.model);
        ASSERT_NE(p, nullptr);
        ScriptedLine line;
        ScriptedSession session;
        int requests = 0;
        uint64_t busyUntil = 0;  // a scale answers one request after another
        line.onWrite = [&](ScriptedLine& l, const Bytes&) {
            if (requests++ == 0) {
                l.Trickle(c.late, c.gap, c.reply);
                busyUntil = l.now + c.late + c.gap * c.reply.size();
            } else {
                const uint64_t start = l.now + 5 > busyUntil ? l.now + 5 : busyUntil + 1;
                l.Arrive(start - l.now, c.reply);
                busyUntil = start;
            }
        };
        Reading io;
        EXPECT_EQ(RunReadCycle(*p, line, session, io), 0);
        EXPECT_DOUBLE_EQ(io.weight, 1.234);
        EXPECT_DOUBLE_EQ(io.cost, 13.8);
    }
}
