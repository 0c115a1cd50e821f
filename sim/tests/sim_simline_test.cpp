// The line alone: a frame's bytes under each fault, and a TCP line driven
// without a scale thread (pace, cut, a client that goes).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/pty.h"
#include "platform/sync.h"
#include "platform/sys.h"
#include "sim/Models.h"
#include "sim/SimLine.h"

namespace {

std::string MarkBroken(const std::string& frame) { return sim::WithByte(frame, 0, 'X'); }

sim::SimModel Framed(bool ownBreak) {
    sim::SimModel m;
    m.header = 0x02;
    m.noGarbage = "AB";
    if (ownBreak) m.brk = MarkBroken;
    return m;
}

TEST(SimLineAlone, FaultShapesTheFrame) {
    const std::string frame = "\x02" "12.345kg\r";
    const sim::SimModel plain = Framed(false), marked = Framed(true);
    const struct {
        const char* name;
        const sim::SimModel* desc;
        sim::Fault fault;
        int param;
        size_t size;          // of the bytes sent
        std::string tail;     // they end with this
        size_t changedAt;     // ChangedByte: the one byte that differs (npos: none)
    } cases[] = {
        {"none", &plain, sim::Fault::None, 0, frame.size(), frame, std::string::npos},
        {"slow bytes keep the frame", &plain, sim::Fault::SlowBytes, 30, frame.size(), frame, std::string::npos},
        {"default garbage", &plain, sim::Fault::Garbage, 0, frame.size() + 5, frame, std::string::npos},
        {"counted garbage", &plain, sim::Fault::Garbage, 40, frame.size() + 40, frame, std::string::npos},
        {"garbage is bounded", &plain, sim::Fault::Garbage, 60000, frame.size() + 4096, frame, std::string::npos},
        {"broken: one byte short", &plain, sim::Fault::BrokenFrame, 0, frame.size() - 1,
         frame.substr(0, frame.size() - 1), std::string::npos},
        {"broken: the model's marker", &marked, sim::Fault::BrokenFrame, 0, frame.size(), "X" + frame.substr(1),
         std::string::npos},
        {"changed: the byte asked", &plain, sim::Fault::ChangedByte, 3, frame.size(), "", 2},
        {"changed: past the end is the last", &plain, sim::Fault::ChangedByte, 500, frame.size(), "",
         frame.size() - 1},
    };
    for (const auto& c : cases) {
        for (int round = 0; round < 20; ++round) {  // the random bytes differ each time
            const std::string got = sim::FaultedBytes(c.desc, frame, c.fault, c.param);
            ASSERT_EQ(got.size(), c.size) << c.name;
            EXPECT_EQ(got.substr(got.size() - c.tail.size()), c.tail) << c.name;
            if (c.fault == sim::Fault::Garbage) {
                for (size_t i = 0; i + frame.size() < got.size(); ++i) {
                    EXPECT_EQ(std::string("\x02" "AB").find(got[i]), std::string::npos) << c.name << " byte " << i;
                }
            }
            if (c.changedAt != std::string::npos) {
                for (size_t i = 0; i < frame.size(); ++i)
                    EXPECT_EQ(got[i] != frame[i], i == c.changedAt) << c.name << " byte " << i;
            }
        }
    }
    EXPECT_EQ(sim::FaultedBytes(nullptr, "", sim::Fault::BrokenFrame, 0), "");
    EXPECT_EQ(sim::FaultedBytes(nullptr, "", sim::Fault::ChangedByte, 0), "");
}

// Reads what arrives within `ms`, until EOF or `want` bytes; `eof` set on EOF.
std::string ReadFor(int h, size_t want, int ms, bool* eof) {
    std::string got;
    *eof = false;
    const uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(ms);
    while (got.size() < want && platform::MonotonicMs() < end) {
        platform::WaitItem item{h, platform::kWaitReadable, 0};
        platform::WaitHandles(&item, 1, 20);
        char buf[256];
        const long n = platform::IoRead(h, buf, sizeof buf);
        if (n < 0) {
            *eof = true;
            break;
        }
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

int AcceptClient(sim::SimLine& line, int* client) {
    *client = platform::TcpConnect(line.Port(), 1000);
    const uint64_t end = platform::MonotonicMs() + 2000;
    while (!line.EnsurePeer() && platform::MonotonicMs() < end) platform::SleepMs(5);
    return line.Connections();
}

TEST(SimLineAlone, TcpLinePacesCutsAndNoticesAClientGone) {
    const struct {
        const char* name;
        const char* framing;
        int baud;
        size_t bytes;
        int minMs;  // the wire time the bytes take at least
        int bits;   // a byte on the wire
    } paces[] = {
        {"unpaced", "8N1", 0, 64, 0, 10},
        {"8N1 at 9600", "8N1", 9600, 48, 45, 10},
        {"8E1 at 4800", "8E1", 4800, 20, 40, 11},
        {"8E2 at 4800", "8E2", 4800, 20, 45, 12},
        {"no settings count as 8N1", nullptr, 1200, 12, 95, 10},
        {"empty settings count as 8N1", "", 1200, 12, 95, 10},
    };
    for (const auto& p : paces) {
        sim::SimModel model;
        model.line = p.framing;
        platform::RecursiveMutex mu;
        int gone = 0;
        sim::SimLine line(&model, mu, [&] { ++gone; });
        ASSERT_TRUE(line.OpenTcp(0)) << p.name;
        EXPECT_FALSE(line.OpenTcp(0)) << p.name << ": already open";
        int client = platform::kNoHandle;
        ASSERT_EQ(AcceptClient(line, &client), 1) << p.name;
        EXPECT_TRUE(line.PeerReady()) << p.name;

        EXPECT_EQ(line.BitsPerByte(), p.bits) << p.name;
        line.SetPaceBaud(p.baud);
        const std::string bytes(p.bytes, 'w');
        const uint64_t t0 = platform::MonotonicMs();
        EXPECT_TRUE(line.Send(bytes, 0)) << p.name;
        EXPECT_GE(static_cast<int>(platform::MonotonicMs() - t0), p.minMs) << p.name;
        bool eof = false;
        EXPECT_EQ(ReadFor(client, bytes.size(), 2000, &eof), bytes) << p.name;

        line.Cut(false);
        EXPECT_EQ(gone, 1) << p.name;
        EXPECT_EQ(line.HangUps(), 1) << p.name;
        EXPECT_FALSE(line.PeerReady()) << p.name;
        ReadFor(client, 1, 2000, &eof);
        EXPECT_TRUE(eof) << p.name << ": the client sees the cut";
        platform::IoClose(client);

        // The next client; when it leaves, a write notices.
        ASSERT_EQ(AcceptClient(line, &client), 2) << p.name;
        platform::IoClose(client);
        line.SetPaceBaud(0);
        const std::string big(1 << 16, 'x');
        for (int i = 0; i < 50 && line.Handle() != platform::kNoHandle; ++i) line.WriteAll(big.data(), big.size());
        EXPECT_EQ(line.Handle(), platform::kNoHandle) << p.name;
        EXPECT_EQ(gone, 2) << p.name;
        line.Close();
        EXPECT_EQ(line.LineMode(), sim::SimLine::Off) << p.name;
    }
}

TEST(SimLineAlone, StopCutsASlowSendShort) {
    platform::RecursiveMutex mu;
    sim::SimLine line(nullptr, mu, nullptr);
    ASSERT_TRUE(line.OpenTcp(0));
    int client = platform::kNoHandle;
    ASSERT_EQ(AcceptClient(line, &client), 1);
    line.RequestStop();
    const uint64_t t0 = platform::MonotonicMs();
    EXPECT_FALSE(line.Send(std::string(10, 's'), 5000));
    EXPECT_LT(platform::MonotonicMs() - t0, 3000u);
    line.ClearStop();
    EXPECT_TRUE(line.Send("ok", 1));
    platform::IoClose(client);
}

}  // namespace
