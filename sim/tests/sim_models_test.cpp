// The model registry, and the model-independent behaviours a descriptor
// switches on: streaming, the early first byte, command effects and answers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/pty.h"
#include "platform/sys.h"
#include "sim/Models.h"
#include "sim/Simulator.h"

namespace {

// --- the registry ---------------------------------------------------------

std::string Describe(const sim::SimModel& m) { return "model " + std::to_string(m.model); }

// Shows for which every model's frame must be well formed.
std::vector<sim::Display> SampleDisplays() {
    std::vector<sim::Display> v(6);
    v[1].weight = 1.234;
    v[2].weight = -12.5;
    v[2].stable = false;
    v[3].weight = 1e9;  // far beyond any display
    v[3].overload = true;
    v[4].weight = 0.5;
    v[4].decimals = 4;
    v[4].negative = true;
    v[4].text = "4601234567890";
    v[5].weight = 3.0;
    v[5].decimals = 0;
    v[5].price = 12.5;
    v[5].cost = 37.5;
    v[5].tare = 0.25;
    return v;
}

TEST(SimModels, RegistryHasEachModelOnceAndEveryDescriptorComplete) {
    std::set<int> seen;
    const std::set<std::string> lines = {"8N1", "8E1", "8E2"};
    ASSERT_FALSE(sim::AllSimModels().empty());
    for (const sim::SimModel& m : sim::AllSimModels()) {
        const std::string who = Describe(m);
        EXPECT_TRUE(seen.insert(m.model).second) << who << " registered twice";
        EXPECT_GE(m.model, 0) << who;
        EXPECT_EQ(&m, sim::FindSimModel(m.model)) << who;
        ASSERT_NE(nullptr, m.name) << who;
        EXPECT_STRNE("", m.name) << who;
        ASSERT_NE(nullptr, m.line) << who;
        EXPECT_EQ(1u, lines.count(m.line)) << who << " line " << m.line;
        ASSERT_NE(nullptr, m.encode) << who;
        EXPECT_TRUE(sim::ModelSupported(m.model)) << who;

        bool hasRequest = false, hasCommand = false;
        for (size_t i = 0; i < m.patterns.size(); ++i) {
            const auto& p = m.patterns[i];
            EXPECT_FALSE(p.elems.empty()) << who << " pattern " << i;
            EXPECT_NE(sim::CommandMatcher::Unknown, p.kind) << who << " pattern " << i;
            hasRequest |= p.kind == sim::CommandMatcher::Request;
            hasCommand |= p.kind != sim::CommandMatcher::Request;
            // A pattern that starts another one would hide the longer one.
            for (size_t j = 0; j < m.patterns.size(); ++j) {
                const auto& q = m.patterns[j];
                if (i == j || p.elems.size() > q.elems.size()) continue;
                bool prefix = true;
                for (size_t k = 0; k < p.elems.size() && prefix; ++k) {
                    prefix = p.elems[k].type == q.elems[k].type &&
                             (p.elems[k].type != sim::CommandMatcher::Exact || p.elems[k].byte == q.elems[k].byte);
                }
                EXPECT_FALSE(prefix) << who << ": pattern " << i << " starts pattern " << j;
            }
        }
        // Polled scales answer a request; others are never asked.
        EXPECT_EQ(m.mode == sim::SimModel::Polled, hasRequest) << who;
        if (m.effect || m.answer) {
            EXPECT_TRUE(hasCommand) << who << ": effect or answer without a command";
        }

        for (const sim::Display& d : SampleDisplays()) {
            const std::string frame = m.encode(d);
            ASSERT_FALSE(frame.empty()) << who;
            if (m.header >= 0) {
                EXPECT_EQ(m.header, static_cast<uint8_t>(frame[0])) << who;
            }
            EXPECT_NE(frame, sim::BreakFrame(m.model, frame)) << who << ": a broken frame must differ";
            EXPECT_EQ(frame, sim::EncodeFrame(m.model, d)) << who;
        }
    }
    EXPECT_EQ(nullptr, sim::FindSimModel(-1));
    EXPECT_EQ(nullptr, sim::FindSimModel(20));
}

TEST(SimModels, CommonEffectsAndAnswers) {
    using K = sim::CommandMatcher;
    const struct {
        const char* name;
        void (*effect)(const K::Message&, sim::Display&);
        K::Kind kind;
        long long value;
        double weight, tare, price;
        bool zeroed;
    } cases[] = {
        // starting from weight 2, tare 0.5, price 1, decimals 3
        {"standard tare takes the load", sim::StandardEffect, K::Tare, 0, 0.0, 2.5, 1.0, true},
        {"standard zero", sim::StandardEffect, K::Zero, 0, 0.0, 0.5, 1.0, true},
        {"standard price", sim::StandardEffect, K::Price, 1250, 2.0, 0.5, 12.5, false},
        {"standard ack does nothing", sim::StandardEffect, K::Ack, 7, 2.0, 0.5, 1.0, false},
        {"tare value in display units", sim::TareFromValue, K::Tare, 125, 2.0, 0.125, 1.0, false},
        {"price value only for price", sim::PriceFromHundredths, K::Tare, 99, 2.0, 0.5, 1.0, false},
    };
    for (const auto& c : cases) {
        sim::Display d;
        d.weight = 2.0;
        d.tare = 0.5;
        d.price = 1.0;
        c.effect(K::Message{c.kind, "x", c.value}, d);
        EXPECT_DOUBLE_EQ(c.weight, d.weight) << c.name;
        EXPECT_DOUBLE_EQ(c.tare, d.tare) << c.name;
        EXPECT_DOUBLE_EQ(c.price, d.price) << c.name;
        EXPECT_EQ(c.zeroed, d.zeroed) << c.name;
    }
    EXPECT_EQ(std::string("\x01\x06\x00", 3),
              sim::EchoAnswer(K::Message{K::Command, std::string("\x01\x06\x00", 3), 0}, sim::Display()));
}

// --- a made-up format for the simulator's own behaviours --------------------

// STX, weight "%7.3f", CR: 9 bytes.
std::string TextFrame(const sim::Display& d) { return "\x02" + sim::TextField(d.weight, 7, 3) + "\r"; }
std::string TextBroken(const std::string& f) { return sim::WithByte(f, f.size() - 1, '\n'); }

sim::SimModel Streaming() {
    sim::SimModel m;
    m.model = 900;
    m.name = "test stream";
    m.mode = sim::SimModel::Streams;
    m.header = 0x02;
    m.encode = TextFrame;
    m.brk = TextBroken;
    return m;
}

std::string ReadFor(int h, size_t n, int timeoutMs) {
    std::string out;
    const uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(timeoutMs);
    while (out.size() < n) {
        const uint64_t now = platform::MonotonicMs();
        if (now >= end) break;
        platform::WaitItem item{h, platform::kWaitReadable, 0};
        platform::WaitHandles(&item, 1, static_cast<int>(end - now));
        char buf[4096];
        const size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
        const long r = platform::IoRead(h, buf, want);
        if (r < 0) break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

void Write(int h, const std::string& bytes) {
    ASSERT_EQ(static_cast<long>(bytes.size()), platform::IoWrite(h, bytes.data(), bytes.size()));
}

int OpenRawClient(const sim::Simulator& s) {
    int h = platform::TtyOpen(s.DevicePath());
    EXPECT_NE(platform::kNoHandle, h);
    EXPECT_TRUE(platform::TtyHoldExclusively(h));
    EXPECT_TRUE(platform::TtySetRaw(h));
    EXPECT_TRUE(s.WaitPeer(1000));
    return h;
}

std::vector<uint64_t> SentTimes(const sim::Simulator& s) {
    std::vector<uint64_t> t;
    for (const sim::Record& r : s.Log()) {
        if (r.kind == sim::Record::Sent) t.push_back(r.timeMs);
    }
    return t;
}

TEST(SimStreams, BackToBackFramesOnAPty) {
    sim::Simulator s(Streaming());
    s.SetWeight(1.234);
    s.SetStreamGapMs(0);
    ASSERT_TRUE(s.StartPty());
    platform::SleepMs(50);
    EXPECT_EQ(0, s.FramesSent());  // nobody holds the line: nothing is sent
    int h = OpenRawClient(s);
    const std::string frame = "\x02  1.234\r";
    const std::string got = ReadFor(h, frame.size() * 200, 3000);
    ASSERT_EQ(frame.size() * 200, got.size());
    for (size_t i = 0; i < 200; ++i) EXPECT_EQ(frame, got.substr(i * frame.size(), frame.size())) << i;
    // Nobody reads: the line fills up and the scale waits, then stops at once.
    platform::SleepMs(100);
    const uint64_t start = platform::MonotonicMs();
    s.Stop();
    EXPECT_LT(platform::MonotonicMs() - start, 500u);
    platform::IoClose(h);
}

TEST(SimStreams, GapBetweenFramesAndChangesWhileStreaming) {
    sim::Simulator s(Streaming());
    s.SetStreamGapMs(60);
    ASSERT_TRUE(s.StartPty());
    int h = OpenRawClient(s);
    EXPECT_EQ(9u * 4, ReadFor(h, 9 * 4, 3000).size());
    s.SetWeight(2.5);  // a frame soon shows the new weight, and so do all after it
    int frames = 0;
    std::string got;
    while (got != "\x02  2.500\r" && frames++ < 40) got = ReadFor(h, 9, 1000);
    EXPECT_EQ("\x02  2.500\r", got);
    EXPECT_EQ("\x02  2.500\r", ReadFor(h, 9, 1000));
    for (int i = 0; i < 100 && s.FramesSent() < 6; ++i) platform::SleepMs(10);
    const std::vector<uint64_t> t = SentTimes(s);
    ASSERT_GE(t.size(), 6u);
    for (size_t i = 1; i < t.size(); ++i) EXPECT_GE(t[i] - t[i - 1], 60u) << i;
    // A long gap shortened takes effect without waiting the long one out.
    s.SetStreamGapMs(5000);
    ReadFor(h, 100, 200);  // drains
    s.SetStreamGapMs(0);
    EXPECT_EQ(9u * 3, ReadFor(h, 9 * 3, 1000).size());
    platform::IoClose(h);
}

TEST(SimStreams, FaultsApplyToEachFrame) {
    const std::string frame = "\x02  0.000\r";
    const struct {
        const char* name;
        sim::Fault fault;
        int param;
    } cases[] = {
        {"garbage", sim::Fault::Garbage, 3},
        {"broken", sim::Fault::BrokenFrame, 0},
        {"silence", sim::Fault::Silence, 0},
        {"slow", sim::Fault::SlowBytes, 5},
        {"hang-up", sim::Fault::HangUp, 0},
    };
    for (const auto& c : cases) {
        sim::Simulator s(Streaming());
        s.SetStreamGapMs(20);
        s.SetFault(c.fault, c.param);
        ASSERT_TRUE(s.StartTcp());
        int h = platform::TcpConnect(s.TcpPort(), 1000);
        ASSERT_NE(platform::kNoHandle, h) << c.name;
        const std::string got = ReadFor(h, 36, 1500);
        switch (c.fault) {
        case sim::Fault::Garbage:
            ASSERT_EQ(36u, got.size()) << c.name;
            for (size_t i = 0; i < 36; i += 12) {
                EXPECT_EQ(std::string::npos, got.substr(i, 3).find('\x02')) << c.name;
                EXPECT_EQ(frame, got.substr(i + 3, 9)) << c.name;
            }
            break;
        case sim::Fault::BrokenFrame:
            ASSERT_EQ(36u, got.size()) << c.name;
            for (size_t i = 0; i < 36; i += 9) EXPECT_EQ(TextBroken(frame), got.substr(i, 9)) << c.name;
            break;
        case sim::Fault::Silence:
            EXPECT_EQ("", got) << c.name;
            EXPECT_EQ(0, s.FramesSent()) << c.name;
            break;
        case sim::Fault::SlowBytes: {
            ASSERT_EQ(36u, got.size()) << c.name;
            EXPECT_EQ(frame + frame + frame + frame, got) << c.name;
            break;
        }
        default:  // the line is cut once, then the next client gets frames
            EXPECT_EQ("", got) << c.name;
            EXPECT_EQ(1, s.HangUps()) << c.name;
            platform::IoClose(h);
            h = platform::TcpConnect(s.TcpPort(), 1000);
            EXPECT_EQ(frame, ReadFor(h, 9, 1000)) << c.name;
            break;
        }
        platform::IoClose(h);
        const uint64_t start = platform::MonotonicMs();
        s.Stop();
        EXPECT_LT(platform::MonotonicMs() - start, 500u) << c.name;
    }
}

// --- the early first byte ---------------------------------------------------

TEST(SimPolled, AckFirstByteSendsTheHeaderForTheRequestsFirstByte) {
    const struct {
        int model;
        std::string first, second;  // the request, in two writes
    } cases[] = {
        {13, "\x05", "\x11"},
        {27, "\x05", "\x11"},
        {14, "\x01", "\x89"},
    };
    for (const auto& c : cases) {
        sim::Simulator s(c.model);
        s.SetWeight(1.5);
        s.SetAckFirstByte(true);
        ASSERT_TRUE(s.StartPty());
        int h = OpenRawClient(s);
        const std::string frame = s.Frame();
        for (int round = 0; round < 2; ++round) {
            Write(h, c.first);
            EXPECT_EQ(frame.substr(0, 1), ReadFor(h, 1, 1000)) << c.model;
            EXPECT_EQ("", ReadFor(h, 1, 100)) << c.model;  // no more until the request is whole
            Write(h, c.second);
            EXPECT_EQ(frame.substr(1), ReadFor(h, frame.size() - 1, 1000)) << c.model;
        }
        EXPECT_EQ(2, s.RequestsSeen()) << c.model;
        // The frame is counted once its write has returned, which may be
        // after the reader here has its bytes.
        for (int wait = 0; wait < 200 && s.FramesSent() < 2; ++wait) platform::SleepMs(5);
        EXPECT_EQ(2, s.FramesSent()) << c.model;
        // A first byte that leads nowhere got its header; the next request
        // gets its own.
        Write(h, c.first + "\xFF" + c.first + c.second);
        EXPECT_EQ(frame.substr(0, 1) + frame, ReadFor(h, frame.size() + 1, 1000)) << c.model;
        EXPECT_EQ("", ReadFor(h, 1, 100)) << c.model;
        platform::IoClose(h);
    }
}

// --- commands: effect and answer ------------------------------------------------

std::string Answer(const sim::CommandMatcher::Message& m, const sim::Display& d) {
    return m.kind == sim::CommandMatcher::Zero ? sim::EchoAnswer(m, d) : std::string();
}

TEST(SimPolled, CommandsChangeTheDisplayAndGetTheirAnswer) {
    sim::SimModel m;
    m.model = 901;
    m.name = "test polled";
    m.encode = TextFrame;
    m.patterns = {sim::BytesPattern(sim::CommandMatcher::Request, "R"),
                  sim::BytesPattern(sim::CommandMatcher::Zero, "Z\r"),
                  sim::BytesPattern(sim::CommandMatcher::Tare, "T\r")};
    m.effect = sim::StandardEffect;
    m.answer = Answer;
    sim::Simulator s(m);
    s.SetWeight(1.5);
    ASSERT_TRUE(s.StartTcp());
    int h = platform::TcpConnect(s.TcpPort(), 1000);
    ASSERT_NE(platform::kNoHandle, h);
    Write(h, "T\r");
    ASSERT_TRUE(s.WaitReceived(1, 1000));
    EXPECT_DOUBLE_EQ(1.5, s.Tare());
    EXPECT_DOUBLE_EQ(0.0, s.Weight());
    EXPECT_EQ("", ReadFor(h, 1, 100));  // tare is not answered
    s.SetWeight(0.75);
    EXPECT_FALSE(s.Zeroed());
    Write(h, "Z\r");
    EXPECT_EQ("Z\r", ReadFor(h, 2, 1000));  // zero is echoed
    EXPECT_TRUE(s.Zeroed());
    Write(h, "R");
    EXPECT_EQ("\x02  0.000\r", ReadFor(h, 9, 1000));
    const auto log = s.Log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(sim::Record::Tare, log[0].kind);
    EXPECT_EQ(sim::Record::Zero, log[1].kind);
    EXPECT_STREQ("zero", sim::RecordKindName(sim::Record::Zero));
    platform::IoClose(h);
}

}  // namespace
