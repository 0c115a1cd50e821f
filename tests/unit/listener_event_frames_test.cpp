// ReadEventFrames: the frames an event-driven model's listener reads from a
// byte run, for the five descriptions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/Text.h"
#include "scales/listener/EventProtocol.h"
#include "scales/listener/Vn220Events.h"
#include "scales/listener/VnaCiEvents.h"
#include "scales/listener/Vta60Events.h"

using zel::listener::EventFrame;
using zel::listener::EventProtocol;
using zel::listener::EventVerdict;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Model 5 / 32 frames.
const Bytes kW12345 = {0x3C, 0x00, 0x01, 0x23, 0x45, 0x02, 0x3E};       // 123.45 kg
const Bytes kWMinus = {0x3C, 0x00, 0x00, 0x15, 0x00, 0x23, 0x3E};       // -1.5 kg
const Bytes kWBlank = {0x3C, 0x00, 0x01, 0xF3, 0x45, 0x02, 0x3E};       // a blank among the digits
const Bytes kTareExt = {0x3D, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x3E};      // tare 500
const Bytes kW1234 = {0x3C, 0x00, 0x00, 0x12, 0x34, 0x00, 0x3E};        // raw 1234
// Model 6.
const Bytes kScan = Text("<001234\x03" "4820000000017\r");
const Bytes kScanShort = Text("<1500\x02\r");  // CR within nine bytes
const Bytes kScanDashes = Text("<  --  \x02\r");
// Model 15.
const Bytes kText = Text("  1.234\r  12.50\r  15.43\r\n");
const Bytes kTextBad = Text("  1.2a4\r  12.50\r  15.43\r\n");
const Bytes kTextBlankPrice = Text("  0.500\r       \r       \r\n");
// Model 22.
const Bytes kDigits = {4, 3, 2, 1, 0, 0, 0, 5, 5, 2, 0, 0, 7, 4, 1, 3, 0, 0};   // 1.234 kg, 25.50, 31.47
const Bytes kDigitsBad = {4, 3, 2, 1, 0, 0, 0, 5, 5, 2, 0, 0, 7, 4, 10, 3, 0, 0};

struct Want {
    size_t start, end;
    EventVerdict verdict;
    double weight = 0.0;
    double tare = 0.0;
    double price = 0.0;
    double cost = 0.0;
    std::string text = "";
    bool ack = false;
};

struct Case {
    const char* name;
    const EventProtocol* protocol;
    Bytes bytes;
    std::vector<size_t> bursts;
    std::vector<Want> frames;
};

const EventVerdict R = EventVerdict::kReading;
const EventVerdict W = EventVerdict::kWithheld;
const EventVerdict I = EventVerdict::kIncomplete;
const EventVerdict S = EventVerdict::kResync;
const EventVerdict D = EventVerdict::kDropped;
const EventVerdict N = EventVerdict::kNoNumber;

}  // namespace

TEST(ListenerEventFrames, FramesOfEachDescription) {
    using namespace zel;
    const Case cases[] = {
        // Model 5.
        {"5: back to back", &vn220::kVn220Protocol, Cat({kW12345, kWMinus}), {},
         {{0, 7, R, 123.45, 0, 0, 0, "", true}, {7, 14, R, -1.5, 0, 0, 0, "", true}}},
        {"5: noise before resyncs on '<'", &vn220::kVn220Protocol, Cat({{0x11, 0x22}, kW12345}), {},
         {{0, 7, S}, {2, 9, R, 123.45, 0, 0, 0, "", true}}},
        {"5: a frame cut at a burst edge", &vn220::kVn220Protocol, Cat({{0x3C, 0x00, 0x01}, kW12345}), {3},
         {{0, 3, I}, {3, 10, R, 123.45, 0, 0, 0, "", true}}},
        {"5: the cut frame's tail and the next frame", &vn220::kVn220Protocol,
         Cat({{0x3C, 0x00, 0x01}, {0x23, 0x45, 0x02, 0x3E}, kWMinus}), {3},
         {{0, 3, I}, {3, 10, S}, {7, 14, R, -1.5, 0, 0, 0, "", true}}},
        {"5: digits that hold no number", &vn220::kVn220Protocol, Cat({kWBlank, kW12345}), {},
         {{0, 7, N}, {7, 14, R, 123.45, 0, 0, 0, "", true}}},
        {"5: a silence inside no frame parts nothing", &vn220::kVn220Protocol, Cat({kW12345, kWMinus}), {7},
         {{0, 7, R, 123.45, 0, 0, 0, "", true}, {7, 14, R, -1.5, 0, 0, 0, "", true}}},
        {"5: a tail at the end of the run", &vn220::kVn220Protocol, Cat({kW12345, {0x3C, 0x00}}), {},
         {{0, 7, R, 123.45, 0, 0, 0, "", true}, {7, 9, I}}},
        // Model 32.
        {"32: weight and tare back to back", &vn220::kTaraProtocol, Cat({kW1234, kTareExt, kW1234, kTareExt}), {},
         {{0, 14, R, 1234, 500, 0, 0, "", true}, {14, 28, R, 1234, 500, 0, 0, "", true}}},
        {"32: a lone weight frame before a silence", &vn220::kTaraProtocol, Cat({kW1234, kW1234, kTareExt}), {7},
         {{0, 7, W, 1234}, {7, 21, R, 1234, 500, 0, 0, "", true}}},
        {"32: two weight frames read as one resync", &vn220::kTaraProtocol, Cat({kW1234, kW1234, kTareExt}), {},
         {{0, 14, S}, {7, 21, R, 1234, 500, 0, 0, "", true}}},
        {"32: noise before", &vn220::kTaraProtocol, Cat({{0x00}, kW1234, kTareExt}), {},
         {{0, 14, S}, {1, 15, R, 1234, 500, 0, 0, "", true}}},
        {"32: cut after ten bytes", &vn220::kTaraProtocol, Cat({kW1234, {0x3D, 0x00, 0x00}, kW1234, kTareExt}), {10},
         {{0, 10, I}, {10, 24, R, 1234, 500, 0, 0, "", true}}},
        {"32: digits that hold no number", &vn220::kTaraProtocol, Cat({kWBlank, kTareExt}), {},
         {{0, 14, N}}},
        // Model 6.
        {"6: back to back", &vnaci::kVnaCiProtocol, Cat({kScan, kScan}), {},
         {{0, 22, R, 1.234, 0, 0, 0, "4820000000017"}, {22, 44, R, 1.234, 0, 0, 0, "4820000000017"}}},
        {"6: noise before '<' is dropped", &vnaci::kVnaCiProtocol, Cat({Text("xy"), kScan}), {},
         {{2, 24, R, 1.234, 0, 0, 0, "4820000000017"}}},
        {"6: a frame cut at a burst edge", &vnaci::kVnaCiProtocol, Cat({Text("<0012"), kScan}), {5},
         {{0, 5, I}, {5, 27, R, 1.234, 0, 0, 0, "4820000000017"}}},
        {"6: CR within nine bytes", &vnaci::kVnaCiProtocol, Cat({kScanShort, kScan}), {},
         {{0, 7, I}, {7, 29, R, 1.234, 0, 0, 0, "4820000000017"}}},
        {"6: a weight field of dashes", &vnaci::kVnaCiProtocol, Cat({kScanDashes, kScan}), {},
         {{0, 9, N}, {9, 31, R, 1.234, 0, 0, 0, "4820000000017"}}},
        {"6: fifty bytes without CR", &vnaci::kVnaCiProtocol, Cat({Text("<"), Bytes(60, '1'), Text("\r")}), {},
         {{0, 50, I}}},
        // Model 15.
        {"15: back to back", &vta60::kTextProtocol, Cat({kText, kTextBlankPrice}), {},
         {{0, 25, R, 1.234, 0, 12.5, 15.43, "  1.234;  12.50;  15.43;"},
          {25, 50, R, 0.5, 0, 0, 0, "  0.500;       ;       ;"}}},
        {"15: noise before resyncs on the separators", &vta60::kTextProtocol, Cat({Text("ab"), kText}), {},
         {{0, 25, S}, {2, 27, R, 1.234, 0, 12.5, 15.43, "  1.234;  12.50;  15.43;"}}},
        {"15: a frame cut at a burst edge", &vta60::kTextProtocol, Cat({Text("  1.234\r  1"), kText}), {11},
         {{0, 11, I}, {11, 36, R, 1.234, 0, 12.5, 15.43, "  1.234;  12.50;  15.43;"}}},
        {"15: a field that holds no number", &vta60::kTextProtocol, Cat({kTextBad, kText}), {},
         {{0, 25, N}, {25, 50, R, 1.234, 0, 12.5, 15.43, "  1.234;  12.50;  15.43;"}}},
        // Model 22.
        {"22: back to back", &vta60::kDigitProtocol, Cat({kDigits, kDigits}), {},
         {{0, 18, R, 1.234, 0, 25.5, 31.47}, {18, 36, R, 1.234, 0, 25.5, 31.47}}},
        {"22: noise in its own burst", &vta60::kDigitProtocol, Cat({{0x55}, kDigits}), {1},
         {{0, 1, I}, {1, 19, R, 1.234, 0, 25.5, 31.47}}},
        {"22: a byte above 9 drops the frame whole", &vta60::kDigitProtocol, Cat({kDigitsBad, kDigits}), {},
         {{0, 18, D}, {18, 36, R, 1.234, 0, 25.5, 31.47}}},
        {"22: a frame cut at a burst edge", &vta60::kDigitProtocol, Cat({Bytes(kDigits.begin(), kDigits.begin() + 9), kDigits}), {9},
         {{0, 9, I}, {9, 27, R, 1.234, 0, 25.5, 31.47}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<EventFrame> got =
            zel::listener::ReadEventFrames(*c.protocol, c.bytes.data(), c.bytes.size(), c.bursts);
        ASSERT_EQ(got.size(), c.frames.size());
        for (size_t i = 0; i < got.size(); ++i) {
            const Want& w = c.frames[i];
            const EventFrame& f = got[i];
            SCOPED_TRACE(i);
            EXPECT_EQ(f.start, w.start);
            EXPECT_EQ(f.end, w.end);
            EXPECT_EQ(f.judgement.verdict, w.verdict) << zel::listener::VerdictName(f.judgement.verdict);
            if (w.verdict == R || w.verdict == W) {
                EXPECT_DOUBLE_EQ(f.judgement.reading.weight, w.weight);
                EXPECT_DOUBLE_EQ(f.judgement.reading.tare, w.tare);
                EXPECT_DOUBLE_EQ(f.judgement.reading.price, w.price);
                EXPECT_DOUBLE_EQ(f.judgement.reading.cost, w.cost);
                EXPECT_EQ(f.judgement.reading.text, w.text);
                EXPECT_EQ(f.judgement.acknowledge, w.ack);
            }
            if (w.verdict != R) {
                ASSERT_NE(f.judgement.why, nullptr);
                EXPECT_GT(std::string(f.judgement.why).size(), 5u);
            }
        }
    }
}

TEST(ListenerEventFrames, AnyRunEndsAndCoversItsBytesInOrder) {
    // Every frame lies within the run, after the previous one's start, and
    // a run of any bytes comes to an end (a resync always moves on).
    const EventProtocol* protocols[] = {&zel::vn220::kVn220Protocol, &zel::vn220::kTaraProtocol,
                                        &zel::vnaci::kVnaCiProtocol, &zel::vta60::kTextProtocol,
                                        &zel::vta60::kDigitProtocol};
    uint32_t seed = 12345;
    for (const EventProtocol* p : protocols) {
        for (int run = 0; run < 200; ++run) {
            Bytes bytes(static_cast<size_t>(seed % 120));
            for (uint8_t& b : bytes) {
                seed = seed * 1103515245u + 12345u;
                const uint8_t pick = static_cast<uint8_t>(seed >> 16);
                // Mostly the bytes the frames are made of.
                const uint8_t common[] = {0x3C, 0x3E, 0x3D, 0x0D, 0x0A, '1', ' ', 0x00, 0x05};
                b = pick < 200 ? common[pick % sizeof common] : pick;
            }
            std::vector<size_t> bursts;
            for (size_t at = 1 + seed % 13; at < bytes.size(); at += 1 + (seed >> 8) % 29) bursts.push_back(at);
            const auto frames = zel::listener::ReadEventFrames(*p, bytes.data(), bytes.size(), bursts);
            size_t lastStart = 0;
            for (size_t i = 0; i < frames.size(); ++i) {
                ASSERT_LT(frames[i].start, frames[i].end) << p->name;
                ASSERT_LE(frames[i].end, bytes.size()) << p->name;
                ASSERT_LE(frames[i].end - frames[i].start, static_cast<size_t>(p->length)) << p->name;
                if (i > 0) {
                    ASSERT_GT(frames[i].start, lastStart) << p->name;
                }
                lastStart = frames[i].start;
            }
        }
    }
    EXPECT_TRUE(zel::listener::ReadEventFrames(zel::vn220::kVn220Protocol, nullptr, 0).empty());
}

TEST(ListenerEventFrames, DigitPriceTravelsAsReceived) {
    // lParam of model 22 is the price integer in hundredths: no value of the
    // six digits may come out one less through the division by 100.
    uint8_t frame[zel::vta60::kDigitFrameLength] = {};
    for (int32_t price = 0; price <= 999999; price += 7) {
        int32_t v = price;
        for (int i = 6; i < 12; ++i, v /= 10) frame[i] = static_cast<uint8_t>(v % 10);
        const auto j = zel::vta60::JudgeDigitFrame(frame, zel::vta60::kDigitFrameLength);
        ASSERT_EQ(j.verdict, EventVerdict::kReading);
        const auto out = zel::vta60::kDigitProtocol.format(j.reading, "A");
        ASSERT_EQ(out.lParam, static_cast<uint32_t>(price));
    }
}

TEST(ListenerEventFrames, CoefficientGivesNoMinusZero) {
    // The one rule for polled and event readings alike.
    const struct {
        double weight, coeff, scaled;
    } cases[] = {
        {1.5, 2.0, 3.0}, {-1.5, 1.0, -1.5}, {0.0, -1.0, 0.0}, {-0.0, 2.0, 0.0}, {1234.0, 0.001, 1.234}, {5.0, 0.0, 0.0},
    };
    for (const auto& c : cases) {
        const double got = zel::ScaledWeight(c.weight, c.coeff);
        EXPECT_DOUBLE_EQ(got, c.scaled) << c.weight << " x " << c.coeff;
        EXPECT_FALSE(std::signbit(got) && got == 0.0) << c.weight << " x " << c.coeff;
    }
}
