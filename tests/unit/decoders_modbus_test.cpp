// BST106 and KELI D12 Modbus replies decoded on bytes, the fixed frames the
// driver sends, and the two descriptions run by the engine on a scripted line.
#include <gtest/gtest.h>

#include "core/Crc.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "scales/Modbus.h"
#include "tests/unit/exchange_scripted_line.h"
#include "tools/detect_plan.h"
#include "tests/unit/decoder_support.h"

using zel::exchange::Reading;
using zeltest::ScriptedLine;
using zeltest::ScriptedSession;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes f) {
    uint16_t crc = zel::Crc16Modbus(f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

Bytes Bst106Reply(Bytes weight, uint8_t status) {
    Bytes f = {0x01, 0x03, 0x06};
    f.insert(f.end(), weight.begin(), weight.end());
    f.push_back(status);
    f.push_back(0x00);
    return WithCrc(f);
}

Bytes D12Reply(const char* text, char decimals) {
    Bytes f = {0x01, 0x03, 0x08};
    for (int i = 0; i < 7; ++i) f.push_back(static_cast<uint8_t>(text[i]));
    f.push_back(static_cast<uint8_t>(decimals));
    return WithCrc(f);
}

// An exception reply: function 83, exception code 02 (illegal address).
const Bytes kException = WithCrc({0x01, 0x83, 0x02});

using zeltest::Sentinel;

}  // namespace

TEST(ModbusDecoders, Bst106Weights) {
    struct Case {
        const char* name;
        Bytes weight;
        uint8_t status;
        double expected;
        int32_t stable;
    };
    const Case cases[] = {
        {"1234 stable", {0x00, 0x00, 0x04, 0xD2}, 0x20, 1234, 1},
        {"-1234", {0xFF, 0xFF, 0xFB, 0x2E}, 0x00, -1234, 0},
        {"-1", {0xFF, 0xFF, 0xFF, 0xFF}, 0x20, -1, 1},
        {"largest", {0x7F, 0xFF, 0xFF, 0xFF}, 0x20, 2147483647.0, 1},
        {"smallest", {0x80, 0x00, 0x00, 0x00}, 0x20, -2147483648.0, 1},
        {"most significant byte first", {0x01, 0x02, 0x03, 0x04}, 0x00, 16909060, 0},
        {"only bit 5 is stable", {0x00, 0x00, 0x00, 0x01}, 0xDF, 1, 0},
        {"bit 5 among others", {0x00, 0x00, 0x00, 0x01}, 0xFF, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes f = Bst106Reply(c.weight, c.status);
        ASSERT_TRUE(zel::modbus::AcceptsBst106Reply(f.data(), f.size()));
        Reading r = Sentinel();
        EXPECT_EQ(zel::modbus::DecodeBst106(f.data(), f.size(), r).result, 0);
        EXPECT_EQ(r.weight, c.expected);
        EXPECT_EQ(r.stable, c.stable);
        EXPECT_EQ(r.price, 0.0);
        EXPECT_EQ(r.cost, 0.0);
    }
}

TEST(ModbusDecoders, D12Weights) {
    struct Case {
        const char* text;
        char decimals;
        double expected;
    };
    const Case cases[] = {
        {"0012345", '3', 12.345},  {"0012345", '0', 12345},    {"0012345", '1', 1234.5},
        {"0012345", '2', 123.45},  {"0012345", '4', 1.2345},   {"0012345", '5', 0.12345},
        {"-000050", '2', -0.5},    {"   12.5", '0', 12.5},      {"9999999", '3', 9999.999},
        {"0000000", '3', 0},       {" -00050", '2', -0.5},      {"   -123", '1', -12.3},
        {"-000000", '3', 0},       {"+000050", '2', 0.5},
        // the digit after the field is the decimals, never part of the number
        {"1234567", '1', 123456.7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " decimals " + c.decimals);
        Bytes f = D12Reply(c.text, c.decimals);
        ASSERT_TRUE(zel::modbus::AcceptsD12Reply(f.data(), f.size()));
        Reading r = Sentinel();
        EXPECT_EQ(zel::modbus::DecodeD12(f.data(), f.size(), r).result, 0);
        EXPECT_DOUBLE_EQ(r.weight, c.expected);
        if (c.expected == 0) {
            EXPECT_FALSE(std::signbit(r.weight));  // "-000000" too
        }
        EXPECT_EQ(r.stable, 0);
        EXPECT_EQ(r.price, 0.0);
        EXPECT_EQ(r.cost, 0.0);
    }
}

TEST(ModbusDecoders, D12FramesThatSayNoWeight) {
    // Valid CRC, address and function: the text or the decimals code make no
    // weight, and the outputs stay as they were. Each read as a weight before
    // (0, 12345, 0.001...).
    struct Case {
        const char* text;
        char decimals;
        const char* why;
    };
    const char* const noNumber = zel::exchange::kWhyNoNumber;
    const char* const badCode = zel::exchange::kWhyDecimals;
    const Case cases[] = {
        {"0012345", '6', badCode},  {"0012345", '9', badCode},   {"0012345", 'A', badCode},
        {"0012345", '\0', badCode}, {"0012345", ' ', badCode},   {"0012345", '-', badCode},
        {"ABCDEFG", '3', noNumber}, {"       ", '0', noNumber},  {"-------", '0', noNumber},
        {"  OL   ", '0', noNumber}, {"001 345", '3', noNumber},  {"1A2B345", '0', noNumber},
        {"00.1.23", '0', noNumber}, {"   .234", '0', noNumber},  {"--00050", '2', noNumber},
        {"00123-5", '0', noNumber}, {"0012345", '\x83', badCode},
        // a point in the text and a decimals code as well: which one holds?
        {"  1.234", '3', badCode},  {"001.234", '1', badCode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " decimals " + c.decimals);
        Bytes f = D12Reply(c.text, c.decimals);
        ASSERT_TRUE(zel::modbus::AcceptsD12Reply(f.data(), f.size()));
        Reading r = Sentinel();
        const zel::exchange::Decoded d = zel::modbus::DecodeD12(f.data(), f.size(), r);
        EXPECT_EQ(d.result, 3);
        EXPECT_STREQ(d.why, c.why);
        EXPECT_EQ(r.weight, -77.0);
        EXPECT_EQ(r.stable, 5);
    }
}

TEST(ModbusDecoders, D12DecimalsGiveTheShownValueExactly) {
    // The count divided by a power of ten is the double nearest the shown
    // value, as the literal is: 3 with one decimal is 0.3, never
    // 0.30000000000000004.
    struct Case {
        const char* text;
        char decimals;
        double expected;
    };
    const Case cases[] = {
        {"0000003", '1', 0.3},     {"0000007", '1', 0.7},      {"0000033", '2', 0.33},
        {"0000001", '3', 0.001},   {"0000003", '3', 0.003},    {"0000007", '4', 0.0007},
        {"0000003", '5', 0.00003}, {"-000003", '1', -0.3},     {"0012345", '3', 12.345},
        {"0000015", '2', 0.15},    {"9999999", '5', 99.99999}, {"0000003", '0', 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " decimals " + c.decimals);
        Bytes f = D12Reply(c.text, c.decimals);
        Reading r = Sentinel();
        EXPECT_EQ(zel::modbus::DecodeD12(f.data(), f.size(), r).result, 0);
        EXPECT_EQ(r.weight, c.expected);
    }
}

TEST(ModbusDecoders, RepliesTheDriverRefuses) {
    const Bytes bst = Bst106Reply({0, 0, 0, 1}, 0x20);
    const Bytes d12 = D12Reply("0000001", '0');
    auto spoil = [](Bytes f, size_t i, uint8_t v) {
        f[i] = v;
        return f;
    };
    Bytes strayFirst = {0x00};
    strayFirst.insert(strayFirst.end(), bst.begin(), bst.end() - 1);
    Bytes exception = kException;
    exception.resize(bst.size(), 0x00);  // padded to length: still refused
    // A spoilt frame with the CRC made right again: the fixed bytes alone
    // must refuse it.
    auto recrc = [](Bytes f) { return WithCrc(Bytes(f.begin(), f.end() - 2)); };
    Bytes echoThenD12(zel::modbus::kD12Request, zel::modbus::kD12Request + 8);
    echoThenD12.insert(echoThenD12.end(), d12.begin(), d12.begin() + 5);
    struct Case {
        const char* name;
        bool (*accepts)(const uint8_t*, size_t);
        Bytes frame;
        bool accepted;
    };
    const Case cases[] = {
        {"bst106 valid", zel::modbus::AcceptsBst106Reply, bst, true},
        {"bst106 bad crc", zel::modbus::AcceptsBst106Reply, spoil(bst, 10, bst[10] ^ 0xFF), false},
        {"bst106 crc high byte", zel::modbus::AcceptsBst106Reply, spoil(bst, 9, bst[9] ^ 0x01), false},
        {"bst106 weight bit flipped", zel::modbus::AcceptsBst106Reply, spoil(bst, 6, bst[6] ^ 0x10), false},
        {"bst106 byte count with its crc", zel::modbus::AcceptsBst106Reply, recrc(spoil(bst, 2, 0x08)), false},
        {"bst106 other slave with its crc", zel::modbus::AcceptsBst106Reply, recrc(spoil(bst, 0, 0x02)), false},
        {"bst106 other function with its crc", zel::modbus::AcceptsBst106Reply, recrc(spoil(bst, 1, 0x04)), false},
        {"bst106 other slave", zel::modbus::AcceptsBst106Reply, spoil(bst, 0, 0x02), false},
        {"bst106 exception function", zel::modbus::AcceptsBst106Reply, spoil(bst, 1, 0x83), false},
        {"bst106 exception reply", zel::modbus::AcceptsBst106Reply, exception, false},
        {"bst106 byte count", zel::modbus::AcceptsBst106Reply, spoil(bst, 2, 0x08), false},
        {"bst106 stray byte first", zel::modbus::AcceptsBst106Reply, strayFirst, false},
        {"d12 valid", zel::modbus::AcceptsD12Reply, d12, true},
        {"d12 byte count", zel::modbus::AcceptsD12Reply, spoil(d12, 2, 0x06), false},
        {"d12 byte count with its crc", zel::modbus::AcceptsD12Reply, recrc(spoil(d12, 2, 0x06)), false},
        {"d12 bad crc", zel::modbus::AcceptsD12Reply, spoil(d12, 12, d12[12] ^ 0xFF), false},
        {"d12 weight digit changed", zel::modbus::AcceptsD12Reply, spoil(d12, 9, '7'), false},
        {"d12 decimals changed", zel::modbus::AcceptsD12Reply, spoil(d12, 10, '3'), false},
        {"d12 other slave with its crc", zel::modbus::AcceptsD12Reply, recrc(spoil(d12, 0, 0x02)), false},
        {"d12 other function with its crc", zel::modbus::AcceptsD12Reply, recrc(spoil(d12, 1, 0x04)), false},
        // The read request handed back by an echoing line: 13 bytes from 01 03.
        {"d12 echoed request and reply start", zel::modbus::AcceptsD12Reply, echoThenD12, false},
        {"d12 exception function", zel::modbus::AcceptsD12Reply, spoil(d12, 1, 0x83), false},
        {"d12 other slave", zel::modbus::AcceptsD12Reply, spoil(d12, 0, 0x11), false},
        {"d12 write echo", zel::modbus::AcceptsD12Reply, spoil(d12, 1, 0x06), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.accepts(c.frame.data(), c.frame.size()), c.accepted) << c.name;
        Bytes shorter(c.frame.begin(), c.frame.end() - 1);
        EXPECT_FALSE(c.accepts(shorter.data(), shorter.size())) << c.name << ", short";
        Bytes longer = c.frame;
        longer.push_back(0);
        EXPECT_FALSE(c.accepts(longer.data(), longer.size())) << c.name << ", long";
    }
    EXPECT_FALSE(zel::modbus::AcceptsBst106Reply(nullptr, 11));
    EXPECT_FALSE(zel::modbus::AcceptsD12Reply(nullptr, 13));
    Reading r;
    EXPECT_NE(zel::modbus::DecodeBst106(nullptr, 11, r).result, 0);
    EXPECT_NE(zel::modbus::DecodeD12(d12.data(), 12, r).result, 0);
}

TEST(ModbusDecoders, FixedFramesAreWellFormed) {
    // Each request and write carries the CRC a slave checks, and each read
    // asks for as many registers as its reply holds.
    struct Case {
        const char* name;
        const uint8_t* bytes;
        uint8_t function;
        uint16_t address, value;
        int replyLength;  // reads: 3 + 2 x registers + 2
    };
    const Case cases[] = {
        {"bst106 read", zel::modbus::kBst106Request, 0x03, 2, 3, zel::modbus::kBst106Protocol.replyLength},
        {"bst106 tare", zel::modbus::kBst106Tare, 0x06, 7, 0xA50B, 0},
        {"d12 read", zel::modbus::kD12Request, 0x03, 3, 4, zel::modbus::kD12Protocol.replyLength},
        {"d12 zero", zel::modbus::kD12Zero, 0x06, 1, 0x0017, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint8_t* b = c.bytes;
        EXPECT_EQ(b[0], 0x01);
        EXPECT_EQ(b[1], c.function);
        EXPECT_EQ(b[2] << 8 | b[3], c.address);
        EXPECT_EQ(b[4] << 8 | b[5], c.value);
        EXPECT_EQ(zel::Crc16Modbus(b, 6), b[6] | b[7] << 8);
        if (c.function == 0x03) {
            EXPECT_EQ(c.replyLength, 5 + 2 * c.value);
        }
    }
    EXPECT_EQ(zel::modbus::kBst106Protocol.requestLength, 8);
    EXPECT_EQ(zel::modbus::kD12Protocol.requestLength, 8);
}

TEST(ModbusExchange, RepliesAcrossAttempts) {
    // The indicator's answer to each request in turn (nothing once the list
    // ends); what the cycle makes of them on a virtual clock.
    struct Case {
        const char* name;
        const zel::exchange::PolledProtocol* protocol;
        Bytes pending;  // on the line before the call
        std::vector<Bytes> answers;
        int32_t result;
        double weight;
        size_t requests;
        uint64_t minMs, maxMs;
    };
    const Bytes bst = Bst106Reply({0x00, 0x00, 0x04, 0xD2}, 0x20);
    const Bytes d12 = D12Reply("0012345", '3');
    Bytes strayThenBst = {0x00};
    strayThenBst.insert(strayThenBst.end(), bst.begin(), bst.end());
    Bytes noiseThenD12 = {0x55, 0xAA};
    noiseThenD12.insert(noiseThenD12.end(), d12.begin(), d12.end());
    const Bytes zeroEcho(zel::modbus::kD12Zero, zel::modbus::kD12Zero + 8);
    const Case cases[] = {
        {"bst106 prompt", &zel::modbus::kBst106Protocol, {}, {bst}, 0, 1234, 1, 0, 50},
        // 11 bytes arrive, the first a stray one: refused, not realigned;
        // the next attempt drains the rest and asks again.
        {"bst106 stray byte", &zel::modbus::kBst106Protocol, {}, {strayThenBst, bst}, 0, 1234, 2, 0, 50},
        // An exception reply is short: the attempt waits out its budget.
        {"bst106 exception, then a reply", &zel::modbus::kBst106Protocol, {}, {kException, bst}, 0, 1234, 2, 300,
         400},
        {"bst106 exceptions only", &zel::modbus::kBst106Protocol, {}, {kException, kException, kException}, 3, 0, 3,
         900, 1000},
        {"bst106 silent", &zel::modbus::kBst106Protocol, {}, {}, 3, 0, 3, 900, 1000},
        {"d12 prompt", &zel::modbus::kD12Protocol, {}, {d12}, 0, 12.345, 1, 0, 50},
        {"d12 exception, then a reply", &zel::modbus::kD12Protocol, {}, {kException, d12}, 0, 12.345, 2, 500, 600},
        {"d12 silent", &zel::modbus::kD12Protocol, {}, {}, 3, 0, 3, 1500, 1600},
        // Each wrong byte before the slave address costs 50 ms.
        {"d12 noise before the address", &zel::modbus::kD12Protocol, {}, {noiseThenD12}, 0, 12.345, 1, 100, 150},
        // The echo of an earlier zero write is drained, not taken as a reply.
        {"d12 echo left on the line", &zel::modbus::kD12Protocol, zeroEcho, {d12}, 0, 12.345, 1, 0, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        ScriptedSession session;
        if (!c.pending.empty()) line.Arrive(0, c.pending);
        auto next = std::make_shared<size_t>(0);
        std::vector<Bytes> answers = c.answers;
        line.onWrite = [=](ScriptedLine& l, const Bytes& written) {
            EXPECT_EQ(written, Bytes(c.protocol->request, c.protocol->request + c.protocol->requestLength));
            if (*next < answers.size()) l.Arrive(5, answers[(*next)++]);
        };
        Reading io = Sentinel();
        int32_t result = zel::exchange::RunReadCycle(*c.protocol, line, session, io);
        EXPECT_EQ(result, c.result);
        EXPECT_DOUBLE_EQ(io.weight, c.weight);
        EXPECT_EQ(line.writes.size(), c.requests);
        EXPECT_GE(line.now, c.minMs);
        EXPECT_LE(line.now, c.maxMs);
        EXPECT_EQ(session.releases, 1);
    }
}

TEST(ModbusExchange, RegisterWritesConfirmedByAddressFunctionRegister) {
    // What the slave sends back after the tare or zero write, and whether it
    // confirms it. A slave answers with the register's value after the
    // write: a command register that clears itself reads back 0.
    struct Case {
        const char* name;
        int8_t at;  // byte of the echo to set, -1 none
        uint8_t value;
        bool recrc;  // the CRC made right for the changed bytes
        bool exception;  // an exception reply instead
        int32_t result;
    };
    const Case cases[] = {
        {"the write's own bytes", -1, 0, false, false, 0},
        {"register cleared (value high byte)", 4, 0x00, true, false, 0},
        {"register cleared (value low byte)", 5, 0x00, true, false, 0},
        {"another value, bad crc", 5, 0x00, false, false, 3},
        {"crc low byte spoilt", 6, 0x00, false, false, 3},
        {"another register", 3, 0x09, true, false, 3},
        {"another register high byte", 2, 0x01, true, false, 3},
        {"another slave", 0, 0x02, true, false, 3},
        {"another function", 1, 0x10, true, false, 3},
        {"exception function, padded to 8 bytes", 1, 0x86, true, false, 3},
        {"exception reply", -1, 0, false, true, 3},
    };
    struct Command {
        const char* name;
        const zel::exchange::CommandSpec* sent;
    };
    for (const Command& command : {Command{"bst106 tare", &zel::modbus::kBst106TareCommand},
                                   Command{"d12 zero", &zel::modbus::kD12ZeroCommand}}) {
        const Bytes written(command.sent->bytes, command.sent->bytes + command.sent->length);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(command.name) + ": " + c.name);
            Bytes reply = written;
            if (c.at >= 0) {
                reply[static_cast<size_t>(c.at)] = c.value;
                if (c.recrc) reply = WithCrc(Bytes(reply.begin(), reply.end() - 2));
            }
            if (c.exception) reply = WithCrc({0x01, 0x86, 0x02});
            ASSERT_EQ(command.sent->confirms(reply.data(), reply.size()), c.result == 0);
            ScriptedLine line;
            ScriptedSession session;
            line.onWrite = [=](ScriptedLine& l, const Bytes& w) {
                if (w == written) l.Arrive(5, reply);
            };
            EXPECT_EQ(zel::exchange::RunCommand(line, session, *command.sent), c.result);
            EXPECT_EQ(line.writes.size(), 1u);
            EXPECT_EQ(session.releases, 1);
        }
    }
}
