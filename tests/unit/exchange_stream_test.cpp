// Continuously transmitting scales (models 18, 19, 25, 29, 31, 33, 34, 36,
// 39) read from streams on a line with a virtual clock: frames whose inner
// bytes take header values wherever the format leaves them free, with pauses
// between frames and back to back, handed on in chunks of random size.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "scales/Continuous.h"
#include "scales/Mirvesov.h"
#include "scales/exchange/Exchange.h"
#include "tests/unit/exchange_scripted_line.h"

using zel::exchange::PolledProtocol;
using zel::exchange::Reading;
namespace cont = zel::continuous;
namespace mv = zel::mirvesov;

namespace {

// The scale sends `frame` over and over, a byte every byteMs, with `gapMs`
// of silence after each frame. A converter hands the bytes on in chunks of
// 1 to maxChunk bytes, each when its last byte is in; a chunk never spans a
// pause. Bytes are made as the clock gets to them.
class StreamLine : public zel::exchange::IByteLine {
public:
    StreamLine(const std::string& frame, uint64_t gapMs, int maxChunk, uint32_t seed, uint64_t byteMs = 1)
        : frame_(frame), gap_(gapMs), byte_(byteMs), maxChunk_(maxChunk), seed_(seed) {}

    uint64_t now = 0;

    int Read(uint8_t* buffer, int size) override {
        MakeUntil(now);
        int n = 0;
        while (n < size && next_ < ready_.size() && ready_[next_].at <= now) buffer[n++] = ready_[next_++].byte;
        return n;
    }
    int Write(const uint8_t*, int size) override { return size; }
    bool WaitForInput(unsigned ms) override {
        MakeUntil(now + ms);
        if (next_ < ready_.size() && ready_[next_].at <= now + ms) {
            if (ready_[next_].at > now) now = ready_[next_].at;
            return true;
        }
        now += ms;
        return false;
    }
    void Sleep(unsigned ms) override { now += ms; }
    uint64_t NowMs() override { return now; }

private:
    struct Byte {
        uint64_t at;
        uint8_t byte;
    };
    uint32_t Random() {
        seed_ = seed_ * 1103515245u + 12345u;
        return seed_ >> 16;
    }
    // Makes chunks until one is handed on after `t`.
    void MakeUntil(uint64_t t) {
        while (made_ <= t) {
            size_t size = 1 + Random() % static_cast<uint32_t>(maxChunk_);
            if (gap_ > 0 && size > frame_.size() - pos_) size = frame_.size() - pos_;
            uint64_t at = sent_;
            for (size_t i = 0; i < size; ++i) {
                at = sent_ + byte_;
                ready_.push_back({0, static_cast<uint8_t>(frame_[pos_])});
                sent_ = at;
                if (++pos_ == frame_.size()) {
                    pos_ = 0;
                    sent_ += gap_;
                    if (gap_ > 0) break;
                }
            }
            for (size_t i = ready_.size() - size; i < ready_.size(); ++i) ready_[i].at = at;
            made_ = at;
        }
    }

    std::string frame_;
    uint64_t gap_;
    uint64_t byte_;
    int maxChunk_;
    uint32_t seed_;
    std::vector<Byte> ready_;
    size_t next_ = 0;
    size_t pos_ = 0;
    uint64_t sent_ = 0;  // when the last byte made was in
    uint64_t made_ = 0;  // when the last chunk made is handed on
};

class NoSession : public zel::exchange::IExchangeSession {
public:
    int32_t EnsureConnected() override { return 0; }
    int32_t ReleaseConnection() override { return 0; }
    int32_t Disconnect() override { return 0; }
};

// How many alignments of a stream of the frame pass every check.
enum class Align {
    kOne,        // only the frame's own
    kPreferred,  // another one too; the stream's preference takes the frame's
    kTwo,        // another one too, which nothing tells apart
};

struct Sample {
    const char* name;
    std::string frame;
    Align align;
};

struct Model {
    int number;
    const PolledProtocol* protocol;
    std::vector<Sample> samples;
};

std::string With(std::string frame, size_t at, const std::string& bytes) {
    frame.replace(at, bytes.size(), bytes);
    return frame;
}

// Puts byte b at each of the offsets.
std::string WithAt(std::string frame, std::initializer_list<size_t> offsets, char b) {
    for (size_t at : offsets) frame[at] = b;
    return frame;
}

// 7F, address, weight characters (given most significant first, sent from
// offset 6 down to 2), status, XOR.
std::string Ocs(char address, const char* weight, char status) {
    std::string f(9, '\0');
    f[0] = '\x7F';
    f[1] = address;
    for (int i = 0; i < 5; ++i) f[static_cast<size_t>(6 - i)] = weight[i];
    f[7] = status;
    for (size_t i = 1; i <= 7; ++i) f[8] = static_cast<char>(f[8] ^ f[i]);
    return f;
}

// 02, decimal code, status, ' ', six digits, six tare bytes, CR.
std::string A12eh(char code, char status, const std::string& tail = "000000") {
    return std::string("\x02") + code + status + " 012345" + tail + "\r";
}

// 02, sign, six digits, decimal code, two bytes, 03.
std::string A9Contin(char sign, const std::string& rest) { return std::string("\x02") + sign + "012345" + "3" + rest + "\x03"; }

const std::string kCertus("\r S,GS,+  12.34 kg\r\n", 20);
const std::string kJadever("\r ST GS - " "   1.234 kg\r\n", 23);
const std::string kSmart("\x02-  1.234kg \r", 13);
const std::string kVis("\nST,GS,  -1.234kg\r", 18);

const std::vector<Model>& Models() {
    static const std::vector<Model> models = {
        {25, &cont::kCertusProtocol,
         {{"as sent", kCertus, Align::kOne},
          {"CR in every free byte", WithAt(kCertus, {1, 2, 3, 4, 5, 6, 15, 16, 17}, '\r'), Align::kOne},
          {"LF in every free byte", WithAt(kCertus, {1, 2, 3, 4, 5, 6, 15, 16, 17}, '\n'), Align::kOne},
          {"CR LF CR for the unit", With(kCertus, 15, "\r\n\r"), Align::kTwo},
          {"CR LF CR after the header", With(kCertus, 1, "\r\n\r"), Align::kTwo}}},
        {19, &cont::kJadeverProtocol,
         {{"as sent", kJadever, Align::kOne},
          {"CR in every free byte", WithAt(kJadever, {1, 2, 3, 5, 6, 9}, '\r'), Align::kOne},
          {"LF in every free byte", WithAt(kJadever, {1, 2, 3, 5, 6, 9}, '\n'), Align::kOne},
          {"CR LF CR after the header", With(kJadever, 1, "\r\n\r"), Align::kOne}}},
        {33, &cont::kSmartProtocol,
         {{"as sent", kSmart, Align::kOne},
          {"STX in every free byte", WithAt(kSmart, {9, 10, 11}, '\x02'), Align::kOne},
          {"CR in every free byte", WithAt(kSmart, {9, 10, 11}, '\r'), Align::kOne},
          {"CR STX for the unit", With(kSmart, 9, "\r\x02"), Align::kOne}}},
        {39, &cont::kVisProtocol,
         {{"as sent", kVis, Align::kOne},
          {"LF in every free byte", WithAt(kVis, {1, 2, 3, 4, 5, 6, 15, 16}, '\n'), Align::kOne},
          {"CR in every free byte", WithAt(kVis, {1, 2, 3, 4, 5, 6, 15, 16}, '\r'), Align::kOne},
          {"CR LF for the unit", With(kVis, 15, "\r\n"), Align::kTwo},
          {"CR LF for the stable flag", With(kVis, 1, "\r\n"), Align::kTwo}}},
        {29, &cont::kT7eProtocol, {{"as sent", "=432.100", Align::kOne}, {"negative", "=432.10-", Align::kOne}}},
        {36, &cont::kEsitProtocol,
         {{"negative with a point", std::string("-0\xB1" "234\r"), Align::kOne},
          {"positive", "+01234\r", Align::kOne}}},
        {18, &cont::kOcsProtocol,
         {{"as sent", Ocs('1', "0!234", 0x01), Align::kOne},
          {"status 7F", Ocs('1', "1234%", 0x7F), Align::kOne},
          {"address 7F", Ocs('\x7F', "1234%", 0x01), Align::kOne},
          {"address and status 7F", Ocs('\x7F', "1234%", 0x7F), Align::kOne},
          {"address and check byte 7F", Ocs('\x7F', "00001", 0x01), Align::kOne},
          {"check byte 7F", Ocs('1', "0@960", 0x01), Align::kPreferred}}},
        {31, &mv::kA12ehProtocol,
         {{"negative: status 02", A12eh('\xAD', 0x02), Align::kOne},
          // Offsets 1 and 2 are status words A and B (A always has bit 5
          // set; B's CR would be out of range): not free.
          {"STX in every free byte", A12eh('\xAA', 0x02, "\x02\x02\x02\x02\x02\x02").replace(3, 1, "\x02"),
           Align::kOne},
          {"CR in every free byte", A12eh('\xAA', 0x08, "\r\r\r\r\r\r").replace(3, 1, "\r"), Align::kOne},
          {"CR STX in the tare", A12eh('\xAD', 0x02, "00\r\x02" "00"), Align::kOne}}},
        {34, &mv::kA9ContinProtocol,
         {{"negative: status 02", A9Contin('-', std::string("\x02\r")), Align::kOne},
          {"STX in every free byte", A9Contin('-', std::string("\x02\x02")), Align::kOne},
          {"ETX STX", A9Contin('+', std::string("\x03\x02")), Align::kOne}}},
    };
    return models;
}

bool IsHeader(const PolledProtocol& p, uint8_t b) {
    return (p.headerCount > 0 && p.header[0] == b) || (p.headerCount > 1 && p.header[1] == b);
}

bool Passes(const PolledProtocol& p, const std::string& w) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(w.data());
    return p.accepts(b, w.size()) && p.stream->kinds(b, w.size());
}

// The alignments other than the frame's own that pass every check in a
// stream of the frame back to back.
std::vector<std::string> OtherAlignments(const PolledProtocol& p, const std::string& frame) {
    std::vector<std::string> out;
    for (size_t s = 1; s < frame.size(); ++s) {
        const std::string w = frame.substr(s) + frame.substr(0, s);
        if (IsHeader(p, static_cast<uint8_t>(frame[s])) && Passes(p, w)) out.push_back(w);
    }
    return out;
}

Reading Expected(const PolledProtocol& p, const std::string& frame) {
    Reading r;
    p.decode(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), r);
    return r;
}

struct Shares {
    int calls = 0, answered = 0, wrong = 0;
};

// `calls` readings of a stream of the frame, each joining it at another
// moment.
Shares Weigh(const PolledProtocol& p, const std::string& frame, uint64_t gapMs, int calls, uint32_t seed,
             uint64_t byteMs = 1) {
    const Reading expected = Expected(p, frame);
    Shares s;
    for (int i = 0; i < calls; ++i) {
        const uint64_t gap = gapMs == 0 ? 0 : gapMs + static_cast<uint64_t>(i % 5) * 20;
        StreamLine line(frame, gap, 8, seed + static_cast<uint32_t>(i) * 7919u, byteMs);
        line.now = 50 + static_cast<uint64_t>(i * 37) % (3 * (frame.size() * byteMs + gap));
        NoSession session;
        Reading r;
        const int32_t code = zel::exchange::RunReadCycle(p, line, session, r);
        ++s.calls;
        if (code == 0) {
            ++s.answered;
            if (r.weight != expected.weight || r.stable != expected.stable) ++s.wrong;
        } else if (code != 3) {
            ++s.wrong;
        }
    }
    return s;
}

}  // namespace

TEST(StreamFraming, SamplesAreHealthyFramesAndTheirAlignmentsAreAsRecorded) {
    for (const Model& m : Models()) {
        for (const Sample& s : m.samples) {
            SCOPED_TRACE(testing::Message() << "model " << m.number << ", " << s.name);
            ASSERT_EQ(s.frame.size(), static_cast<size_t>(m.protocol->replyLength));
            ASSERT_TRUE(Passes(*m.protocol, s.frame));
            const std::vector<std::string> others = OtherAlignments(*m.protocol, s.frame);
            EXPECT_EQ(others.empty(), s.align == Align::kOne);
            if (s.align == Align::kPreferred) {
                const zel::exchange::AcceptsFn preferred = m.protocol->stream->preferred;
                ASSERT_NE(preferred, nullptr);
                EXPECT_TRUE(preferred(reinterpret_cast<const uint8_t*>(s.frame.data()), s.frame.size()));
                for (const std::string& o : others)
                    EXPECT_FALSE(preferred(reinterpret_cast<const uint8_t*>(o.data()), o.size()));
            }
        }
    }
}

TEST(StreamFraming, ByteKindsRefuseWhatNoFrameHolds) {
    struct Case {
        const char* name;
        const PolledProtocol* protocol;
        std::string frame;
    };
    const Case cases[] = {
        {"certus CR in the weight", &cont::kCertusProtocol, With(kCertus, 10, "\r")},
        {"certus LF for the sign", &cont::kCertusProtocol, With(kCertus, 7, "\n")},
        {"jadever CR in the weight", &cont::kJadeverProtocol, With(kJadever, 20, "\r")},
        {"jadever STX for the sign", &cont::kJadeverProtocol, With(kJadever, 8, "\x02")},
        {"smart CR in the weight", &cont::kSmartProtocol, With(kSmart, 8, "\r")},
        {"smart STX for the sign", &cont::kSmartProtocol, With(kSmart, 1, "\x02")},
        {"vis LF in the weight", &cont::kVisProtocol, With(kVis, 7, "\n")},
        {"t7e '=' in the weight", &cont::kT7eProtocol, "=432=100"},
        {"t7e letters", &cont::kT7eProtocol, "=abcdefg"},
        {"esit a letter", &cont::kEsitProtocol, "+01A34\r"},
        {"esit a byte above B9", &cont::kEsitProtocol, "+01\xBA" "34\r"},
        {"ocs 7F in the weight", &cont::kOcsProtocol, Ocs('1', "12\x7F" "34", 0x01)},
        {"ocs a status byte in the weight", &cont::kOcsProtocol, Ocs('1', "1234\x01", 0x01)},
        {"a12eh STX in the weight", &mv::kA12ehProtocol, std::string("\x02\xAD\x02 01\x02" "345000000\r")},
        {"a9 ETX in the weight", &mv::kA9ContinProtocol, std::string("\x02-01\x03" "3453\x02\r\x03")},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> f(c.frame.begin(), c.frame.end());
        ASSERT_EQ(f.size(), static_cast<size_t>(c.protocol->replyLength)) << c.name;
        EXPECT_TRUE(c.protocol->accepts(f.data(), f.size())) << c.name;
        EXPECT_FALSE(c.protocol->stream->kinds(f.data(), f.size())) << c.name;
    }
}

TEST(StreamFraming, FramesWithPausesBetweenThemAreReadRight) {
    // Pauses of 20 to 100 ms between frames, as the scales send them.
    for (const Model& m : Models()) {
        Shares all;
        for (size_t i = 0; i < m.samples.size(); ++i) {
            const Sample& s = m.samples[i];
            SCOPED_TRACE(testing::Message() << "model " << m.number << ", " << s.name);
            const int calls = static_cast<int>(1000 / m.samples.size()) + 1;
            const Shares r = Weigh(*m.protocol, s.frame, 20, calls, 1000u + static_cast<uint32_t>(i));
            EXPECT_EQ(r.wrong, 0);
            EXPECT_GE(r.answered * 100, r.calls * 99);
            all.calls += r.calls;
            all.answered += r.answered;
            all.wrong += r.wrong;
        }
        std::printf("model %d with pauses: %d calls, %.1f %% answered, %d wrong\n", m.number, all.calls,
                    100.0 * all.answered / all.calls, all.wrong);
    }
}

TEST(StreamFraming, SlowLineWithLongChunksAndLongerPauses) {
    // 2400 baud through a converter that holds up to 8 bytes: silences of
    // up to 32 ms inside a frame, 150 ms and more between frames. A window
    // is judged by the longest silence in and around it.
    for (const Model& m : Models()) {
        Shares all;
        for (size_t i = 0; i < m.samples.size(); ++i) {
            const Sample& s = m.samples[i];
            SCOPED_TRACE(testing::Message() << "model " << m.number << ", " << s.name);
            const Shares r = Weigh(*m.protocol, s.frame, 150, 100, 3000u + static_cast<uint32_t>(i), 4);
            EXPECT_EQ(r.wrong, 0);
            all.calls += r.calls;
            all.answered += r.answered;
        }
        EXPECT_GE(all.answered * 100, all.calls * 95) << "model " << m.number;
        std::printf("model %d slow line: %d calls, %.1f %% answered\n", m.number, all.calls,
                    100.0 * all.answered / all.calls);
    }
}

TEST(StreamFraming, FramesBackToBack) {
    // With no pause to go by, a window is a frame where no other alignment
    // inside it passes on the bytes that follow. Where one does (recorded
    // per sample), the stream's preference decides or nothing is read.
    for (const Model& m : Models()) {
        for (size_t i = 0; i < m.samples.size(); ++i) {
            const Sample& s = m.samples[i];
            SCOPED_TRACE(testing::Message() << "model " << m.number << ", " << s.name);
            const Shares r = Weigh(*m.protocol, s.frame, 0, 1000, 2000u + static_cast<uint32_t>(i));
            if (s.align != Align::kTwo) {
                EXPECT_EQ(r.wrong, 0);
                EXPECT_GE(r.answered * 100, r.calls * 99);
            }
            std::printf("model %d back to back, %s%s: %.1f %% answered, %.1f %% wrong\n", m.number, s.name,
                        s.align == Align::kTwo ? " (two alignments)" : "", 100.0 * r.answered / r.calls,
                        100.0 * r.wrong / r.calls);
        }
    }
}
