// The engine's judgement of one reply that a tool holds (detect, decode):
// every reason a reply is refused, on two small protocols, and detect's
// verbose reasons built from it.
#include <gtest/gtest.h>

#include <string>

#include "core/ResultCodes.h"
#include "scales/exchange/Exchange.h"
#include "tools/detect_plan.h"

namespace {

using zel::exchange::Decoded;
using zel::exchange::Reading;
using zel::exchange::Refusal;

const uint8_t kRequest[] = {'R', '?'};

// Byte 1 'K' makes a frame; byte 2 'E' makes the decoder report no reading.
bool Accepts(const uint8_t* f, size_t n) { return n >= 3 && f[1] == 'K'; }
Decoded Decode(const uint8_t* f, size_t, Reading& out) {
    out.weight = f[2] - '0';
    return f[2] == 'E' ? Decoded(zel::kNoAnswer) : Decoded(zel::kOk);
}
bool EndsWithCr(const uint8_t* f, size_t n) { return f[n - 1] == '\r'; }

// Four bytes from '#'.
const zel::exchange::PolledProtocol kFixed = {.request = kRequest,
                                              .requestLength = 2,
                                              .replyLength = 4,
                                              .header = {'#', 0},
                                              .headerCount = 1,
                                              .policy = zel::exchange::HeaderPolicy::kStrict,
                                              .accepts = Accepts,
                                              .decode = Decode};
// A text line up to CR, at most 8 bytes, no header.
const zel::exchange::PolledProtocol kLine = {.request = kRequest,
                                             .requestLength = 2,
                                             .replyLength = 8,
                                             .complete = EndsWithCr,
                                             .accepts = Accepts,
                                             .decode = Decode};

}  // namespace

TEST(ExchangeJudge, EveryReasonAReplyIsRefused) {
    struct Case {
        const zel::exchange::PolledProtocol* protocol;
        std::string bytes;
        Refusal refusal;
        double weight;
    };
    const Case cases[] = {
        {&kFixed, "#K5.", Refusal::kNone, 5},
        {&kFixed, "", Refusal::kNoBytes, 0},
        {&kFixed, "xK5.", Refusal::kHeader, 0},
        {&kFixed, "#K5", Refusal::kShort, 0},
        {&kFixed, "#K5.#", Refusal::kTrailing, 0},
        {&kFixed, "#X5.", Refusal::kFormat, 0},
        {&kFixed, "#KE.", Refusal::kDecoder, 0},
        {&kLine, "AK7\r", Refusal::kNone, 7},
        {&kLine, "AK7\r\n", Refusal::kNone, 7},    // a line end may follow a line
        {&kLine, "AK7\r\n\r\n", Refusal::kTrailing, 0},
        {&kLine, "AK7\rZ", Refusal::kTrailing, 0},
        {&kLine, "R?", Refusal::kEcho, 0},         // the request handed back
        {&kLine, "AK", Refusal::kFormat, 0},       // judged as it stands: too little for the check
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const auto j = zel::exchange::JudgeReply(*c.protocol, reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                                 c.bytes.size());
        EXPECT_EQ(j.refusal, c.refusal) << zel::exchange::RefusalText(j.refusal);
        if (c.refusal == Refusal::kNone) {
            EXPECT_EQ(j.reading.weight, c.weight);
        }
    }
    // A frame followed by more bytes is still a frame for a tool that scans a
    // stream.
    const std::string stream = "#K5.#K6.";
    const auto first = zel::exchange::JudgeFrame(kFixed, reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
    EXPECT_EQ(first.refusal, Refusal::kNone);
    EXPECT_EQ(first.length, 4u);
}

// Detect says why a probe's reply named nothing, per group of models.
TEST(ExchangeJudge, DetectGivesTheReasonOfEachRefusal) {
    using namespace zelscales::detect;
    const Plan plan = BuildPlan({9600}, false);
    const Step* cas = nullptr;
    for (const Step& s : plan.steps)
        if (!s.listen && GroupName(s.models).find("13") != std::string::npos) cas = &s;
    ASSERT_NE(cas, nullptr);
    struct Case {
        std::string received;
        std::string why;  // a part of it; "" for none
    };
    const Case cases[] = {
        {"", ""},
        {"\x41\x42\x43", "wrong first byte"},
        {cas->request, "echoed back"},
        {std::string("\x06\x01\x02S  1.500 kg\x00\x04", 16), "frame check failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.received);
        const Finding f = JudgeReceived(*cas, c.received, cas->request);
        EXPECT_TRUE(f.models.empty());
        if (c.why.empty()) {
            EXPECT_EQ(f.why, "");
        } else {
            EXPECT_NE(f.why.find(c.why), std::string::npos) << f.why;
        }
    }
}
