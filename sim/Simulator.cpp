#include "sim/Simulator.h"

#include <algorithm>
#include <chrono>
#include <atomic>

#include "platform/pty.h"
#include "platform/sync.h"
#include "platform/sys.h"
#include "sim/Frames.h"
#include "sim/Models.h"
#include "sim/ScaleState.h"
#include "sim/Schedule.h"

namespace sim {

namespace {

constexpr int kIdleWaitMs = 200;        // longest sleep of the scale thread
constexpr int kAbsentRecheckMs = 10;    // pty: how often to look for a client
constexpr int kJunkFlushMs = 20;        // quiet time that ends a run of noise
constexpr int kPartialFlushMs = 1000;   // quiet time that abandons half a message
constexpr int kWriteStallMs = 1000;     // a frame the line takes nothing of for this long is dropped
constexpr int kSilentFrameMs = 20;      // streaming in silence: the time a frame "takes"
constexpr int kDefaultDripMs = 60;
constexpr int kDefaultNoiseBaud = 9600;
constexpr int kNoiseStepMs = 5;         // how often noise is topped up
constexpr size_t kNoiseChunkLimit = 4096;
// Half a frame stays this long on the line before the cut: a pty drops what
// its client has not read when it closes, and a reset may drop it too.
constexpr unsigned kCutAfterHalfMs = 100;

// Faults under which no frame and no answer goes out.
bool Mute(Fault f) { return f == Fault::Silence || f == Fault::Loopback || f == Fault::Noise; }

// Faults that cut the line after the first half of each frame.
bool CutsHalfway(Fault f) { return f == Fault::HalfThenHangUp || f == Fault::Reset; }

// The pause after each byte of a frame under this fault, 0 for none.
int ByteGapMs(Fault f, int param) {
    if (f == Fault::SlowBytes) return param;
    if (f == Fault::Drip) return param > 0 ? param : kDefaultDripMs;
    return 0;
}

}  // namespace

const char* RecordKindName(Record::Kind kind) {
    switch (kind) {
    case Record::Request: return "request";
    case Record::Ack: return "ack";
    case Record::Tare: return "tare";
    case Record::Price: return "price";
    case Record::Unknown: return "unknown";
    case Record::Sent: return "sent";
    case Record::LineCut: return "hang-up";
    case Record::Zero: return "zero";
    case Record::Command: return "command";
    }
    return "?";
}

bool ModelSupported(int model) {
    const SimModel* m = FindSimModel(model);
    return m != nullptr && m->encode != nullptr;
}

bool ModelPushes(int model) {
    const SimModel* m = FindSimModel(model);
    return m != nullptr && m->mode == SimModel::Pushes;
}

bool ModelStreams(int model) {
    const SimModel* m = FindSimModel(model);
    return m != nullptr && m->mode == SimModel::Streams;
}

const char* LineSettings(int model) {
    const SimModel* m = FindSimModel(model);
    return m != nullptr && m->line != nullptr ? m->line : "8N1";
}

struct Simulator::Impl {
    enum Mode { Off, Pty, Tcp };

    explicit Impl(int m) : model(m), desc(FindSimModel(m)), matcher(NewMatcher()) {}
    explicit Impl(const SimModel& d) : model(d.model), own(d), desc(&own), matcher(NewMatcher()) {}

    const int model;
    const SimModel own;          // a descriptor given to the constructor
    const SimModel* const desc;  // null for a model the simulator does not speak
    mutable platform::RecursiveMutex mu;

    // What the scale shows, its counters and records (mu, held by the
    // state itself).
    ScaleState state{desc, mu};

    // The fault and the line's behaviour (mu).
    Fault fault = Fault::None;
    int faultParam = 0;
    bool ackFirstByte = false;
    int paceBaud = 0;  // 0: bytes go as fast as the line takes them
    bool closeAfterReply = false;  // TCP: hang up after every answer
    Schedule sched;  // pushes and streamed frames: when the next goes

    // The line. Changed only by the scale thread (under mu) or while it is
    // not running; other threads read it under mu.
    Mode mode = Off;
    int line = platform::kNoHandle;      // pty master or accepted connection
    int listener = platform::kNoHandle;  // TCP
    uint16_t port = 0;
    std::string linkPath, slavePath, tempDir;
    bool peerAbsent = true;  // pty: no client holds the slave (scale thread only)

    // Work handed to the scale thread (mu).
    int pushRequests = 0;
    std::vector<std::string> rawQueue;
    bool hangUpRequested = false;

    // Line counters (mu).
    int hangups = 0, connections = 0;

    platform::Thread thread;
    std::atomic<bool> stop{false};
    platform::WakePipe wake;
    platform::Event stopEvent;      // interrupts slow frames

    // Scale-thread only.
    CommandMatcher matcher;
    uint64_t lastInputMs = 0;
    bool acked = false;        // the frame's first byte went for a partial request
    std::string streamOut;     // the streamed frame being written
    size_t streamPos = 0;      // bytes of it written
    int streamSlowMs = 0;      // SlowBytes: the pause after each byte
    uint64_t streamByteDueMs = 0;  // SlowBytes: when the next byte may go
    double rxDoneUs = 0;           // paced: when the last byte received would have arrived
    double streamPaceUs = 0;       // paced stream: the time of one byte
    double streamStartUs = 0;      // paced stream: when the frame began
    Fault streamCut = Fault::None; // HalfThenHangUp / Reset: cut when the half frame is out
    double noiseFromUs = 0;        // Noise: bytes are owed from this time on (0: not running)

    CommandMatcher NewMatcher() const {
        return CommandMatcher(desc ? desc->patterns : std::vector<CommandMatcher::Pattern>());
    }

    bool Streams() const { return desc != nullptr && desc->mode == SimModel::Streams; }

    static void ThreadEntry(void* p) { static_cast<Impl*>(p)->Run(); }

    void AddRecord(Record::Kind kind, const std::string& bytes, long long value) {
        state.AddRecord(kind, bytes, value);
    }

    std::string Broken(const std::string& frame) const {
        if (desc && desc->brk) return desc->brk(frame);
        return frame.empty() ? frame : frame.substr(0, frame.size() - 1);
    }

    void Wake() { wake.Signal(); }

    // --- the line -------------------------------------------------------

    bool PeerReadyLocked() const {
        if (mode == Pty) return platform::PtyPeerOpen(line) && !platform::PtyPeerCooked(line);
        if (mode == Tcp) return line != platform::kNoHandle;
        return false;
    }

    // Takes a waiting client if there is one; true when a client is there.
    bool EnsurePeer() {
        if (mode == Pty) {
            if (peerAbsent && platform::PtyPeerOpen(line)) peerAbsent = false;
            return !peerAbsent;
        }
        if (mode == Tcp && line == platform::kNoHandle) {
            int c = platform::TcpAccept(listener);
            if (c != platform::kNoHandle) {
                CAutoLockMutex lock(mu);
                line = c;
                ++connections;
            }
        }
        return line != platform::kNoHandle;
    }

    void FlushMatcher(bool partialToo) {
        if (partialToo) acked = false;
        std::vector<CommandMatcher::Message> msgs;
        matcher.Flush(&msgs, partialToo);
        for (const auto& m : msgs) AddRecord(RecordKindOf(m.kind), m.bytes, m.value);
    }

    // The client went away (pty slave closed, connection closed).
    void PeerGone() {
        FlushMatcher(true);
        DropStream();
        if (mode == Pty) {
            peerAbsent = true;
        } else if (mode == Tcp) {
            CAutoLockMutex lock(mu);
            platform::IoClose(line);
            line = platform::kNoHandle;
        }
    }

    // Cuts the line on purpose; `reset`: a TCP connection ends with a reset.
    void DoHangUp(bool reset = false) {
        FlushMatcher(true);
        DropStream();
        if (mode == Pty) {
            std::string slave;
            int fresh = platform::PtyOpenMaster(&slave);
            {
                CAutoLockMutex lock(mu);
                platform::IoClose(line);
                line = fresh;
                if (fresh != platform::kNoHandle) {
                    slavePath = slave;
                    platform::ReplaceSymlink(slave, linkPath);
                }
                ++hangups;
            }
            peerAbsent = true;
        } else if (mode == Tcp) {
            CAutoLockMutex lock(mu);
            if (reset) platform::TcpAbort(line);
            else platform::IoClose(line);
            line = platform::kNoHandle;
            ++hangups;
        }
        matcher = NewMatcher();
        acked = false;
        AddRecord(Record::LineCut, std::string(), 0);
    }

    // Writes all bytes; false when the line went away or stalled.
    bool WriteAll(const char* data, size_t n) {
        size_t done = 0;
        uint64_t stalledSince = 0;
        while (done < n) {
            if (stop) return false;
            long w = platform::IoWrite(line, data + done, n - done);
            if (w > 0) {
                done += static_cast<size_t>(w);
                stalledSince = 0;
                continue;
            }
            if (w < 0) {
                PeerGone();
                return false;
            }
            const uint64_t now = platform::MonotonicMs();
            if (!stalledSince) stalledSince = now;
            if (now - stalledSince >= kWriteStallMs) return false;  // nobody reads
            platform::WaitItem item{line, platform::kWaitWritable, 0};
            platform::WaitHandles(&item, 1, 20);
        }
        return true;
    }

    // The time one byte takes on the line at the paced speed, 0 unpaced:
    // start bit, 8 data bits, parity when the framing has it, stop bits.
    double ByteUs() const {
        int baud;
        {
            CAutoLockMutex lock(mu);
            baud = paceBaud;
        }
        if (baud <= 0) return 0.0;
        return 1e6 * BitsPerByte() / baud;
    }

    int BitsPerByte() const {
        const char* framing = desc ? desc->line : "8N1";
        return 1 + 8 + (framing[1] == 'N' ? 0 : 1) + (framing[2] == '2' ? 2 : 1);
    }

    static double NowUs() {
        using namespace std::chrono;
        return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
    }

    // Bytes handed to the line as a UART would finish them: byte i at
    // (i + 1) byte times after the start.
    bool SendPaced(const std::string& bytes, double byteUs) {
        // An answer starts once the request would have arrived in full.
        const double start = std::max(NowUs(), rxDoneUs);
        size_t sent = 0;
        while (sent < bytes.size()) {
            if (stop) return false;
            // The start may lie ahead (the request is still "on the wire").
            const double elapsed = std::max(0.0, NowUs() - start);
            const size_t due = std::min(bytes.size(), static_cast<size_t>(elapsed / byteUs));
            if (due > sent) {
                if (!WriteAll(bytes.data() + sent, due - sent)) return false;
                sent = due;
                continue;
            }
            const double waitUs = static_cast<double>(sent + 1) * byteUs - elapsed;
            const unsigned ms = waitUs >= 2000.0 ? static_cast<unsigned>(waitUs / 1000.0) : 1u;
            if (stopEvent.Wait(ms) || stop) return false;
        }
        return true;
    }

    // Sends bytes, one at a time `slowMs` apart when slowMs > 0, else at the
    // paced speed when one is set.
    bool Send(const std::string& bytes, int slowMs) {
        if (bytes.empty()) return true;
        if (slowMs <= 0) {
            const double byteUs = ByteUs();
            return byteUs > 0 ? SendPaced(bytes, byteUs) : WriteAll(bytes.data(), bytes.size());
        }
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (!WriteAll(bytes.data() + i, 1)) return false;
            if (i + 1 < bytes.size() && (stopEvent.Wait(static_cast<unsigned>(slowMs)) || stop)) return false;
        }
        return true;
    }

    // The frame's bytes with the fault applied (garbage first, or broken).
    std::string FaultedFrame(Fault f, int param) {
        std::string frame = state.Frame();
        if (f == Fault::ChangedByte) ChangeOneByte(&frame, param);
        std::string bytes;
        if (f == Fault::Garbage) bytes = Garbage(param > 0 ? param : 5);
        bytes += (f == Fault::BrokenFrame) ? Broken(frame) : frame;
        return bytes;
    }

    // Byte param-1 (a random one for param 0) takes another value, chosen
    // at random.
    static void ChangeOneByte(std::string* frame, int param) {
        if (frame->empty()) return;
        uint32_t r = 0;
        if (!platform::RandomBytes(&r, sizeof r)) r = static_cast<uint32_t>(platform::MonotonicMs()) * 2654435761u;
        const size_t at = param > 0 ? std::min(static_cast<size_t>(param - 1), frame->size() - 1)
                                    : static_cast<size_t>(r >> 8) % frame->size();
        const uint8_t flip = static_cast<uint8_t>(1 + (r & 0xFF) % 255);  // never 0: the value changes
        (*frame)[at] = static_cast<char>(static_cast<uint8_t>((*frame)[at]) ^ flip);
    }

    void TakeFault(Fault* f, int* param) {
        CAutoLockMutex lock(mu);
        *f = fault;
        *param = faultParam;
        if (fault == Fault::HangUp) fault = Fault::None;
    }

    void FrameDone(const std::string& bytes) { state.FrameDone(bytes, platform::MonotonicMs()); }

    // A converter that drops the connection after each exchange: the reply
    // is written, then the connection closed; the next one is accepted.
    void CloseAfterReply() {
        bool close;
        {
            CAutoLockMutex lock(mu);
            close = closeAfterReply && mode == Tcp && line != platform::kNoHandle;
            if (close) {
                platform::IoClose(line);
                line = platform::kNoHandle;
            }
        }
        if (close) {
            matcher = NewMatcher();
            acked = false;
        }
    }

    // Answers a request or pushes a reading, with the current fault; true
    // when a frame went out. `restOnly`: the first byte went already (SendAckByte).
    bool SendFrame(bool restOnly = false) {
        Fault f;
        int param;
        TakeFault(&f, &param);
        if (f == Fault::HangUp) {
            DoHangUp();
            return false;
        }
        if (Mute(f) || !EnsurePeer()) return false;
        std::string bytes = FaultedFrame(restOnly && f == Fault::Garbage ? Fault::None : f, param);
        if (restOnly) bytes.erase(0, 1);
        if (CutsHalfway(f)) {
            bytes.resize(std::max<size_t>(1, bytes.size() / 2));
            if (Send(bytes, 0)) AddRecord(Record::Sent, bytes, 0);
            if (stopEvent.Wait(kCutAfterHalfMs) || stop) return false;
            DoHangUp(f == Fault::Reset);
            return false;
        }
        if (!Send(bytes, ByteGapMs(f, param))) return false;
        FrameDone(bytes);
        return true;
    }

    // The first byte of the frame for the first byte of a request (after the
    // garbage of the Garbage fault). Silence and HangUp send nothing here.
    bool SendAckByte() {
        Fault f;
        int param;
        {
            CAutoLockMutex lock(mu);
            f = fault;
            param = faultParam;
        }
        // Faults that shape the whole frame send it in one piece after the
        // request.
        const bool firstByteGoes = f == Fault::None || f == Fault::Garbage || f == Fault::BrokenFrame ||
                                   f == Fault::SlowBytes || f == Fault::Echo || f == Fault::Drip;
        if (!firstByteGoes || !EnsurePeer()) return false;
        std::string bytes = FaultedFrame(f, param);
        if (f == Fault::Garbage) bytes.resize(static_cast<size_t>(param > 0 ? std::min(param, 4096) : 5) + 1);
        else bytes.resize(bytes.empty() ? 0 : 1);
        if (bytes.empty() || !Send(bytes, 0)) return false;
        AddRecord(Record::Sent, bytes, 0);
        return true;
    }

    // The answer to a command: the faults that mute the scale or slow its
    // bytes apply, nothing else.
    void SendAnswer(const std::string& bytes) {
        Fault f;
        int param;
        {
            CAutoLockMutex lock(mu);
            f = fault;
            param = faultParam;
        }
        if (bytes.empty() || Mute(f) || !EnsurePeer()) return;
        if (Send(bytes, ByteGapMs(f, param))) AddRecord(Record::Sent, bytes, 0);
    }

    // --- streaming --------------------------------------------------------

    void DropStream() {
        streamOut.clear();
        streamPos = 0;
        streamSlowMs = 0;
        streamCut = Fault::None;
    }

    // A client holds the line in raw mode (a cooked pty would echo frames).
    bool StreamPeerReady() {
        if (!EnsurePeer()) return false;
        return mode != Pty || !platform::PtyPeerCooked(line);
    }

    uint64_t StreamDueMs() const {
        CAutoLockMutex lock(mu);
        return sched.StreamDueMs();
    }

    void StreamPause(uint64_t now, int minPauseMs) {
        CAutoLockMutex lock(mu);
        sched.FrameEnded(now, minPauseMs);
    }

    void StreamRetryAt(uint64_t atMs) {
        CAutoLockMutex lock(mu);
        sched.RetryAt(atMs);
    }

    // Starts the next frame when due and writes what the line takes of it,
    // without blocking: the wait in Run resumes when the line is writable.
    void StreamStep() {
        if (!Streams() || stop) return;
        uint64_t now = platform::MonotonicMs();
        if (streamOut.empty()) {
            if (now < StreamDueMs()) return;
            if (!StreamPeerReady()) {
                StreamRetryAt(now + kAbsentRecheckMs);  // starts soon after a client comes
                return;
            }
            StreamRetryAt(0);
            Fault f;
            int param;
            TakeFault(&f, &param);
            if (f == Fault::HangUp) {
                DoHangUp();
                StreamPause(now, 0);
                return;
            }
            if (Mute(f)) {
                StreamPause(now, kSilentFrameMs);
                return;
            }
            streamOut = FaultedFrame(f, param);
            // HalfThenHangUp and Reset: half the frame, then the cut.
            streamCut = CutsHalfway(f) ? f : Fault::None;
            if (streamCut != Fault::None) streamOut.resize(std::max<size_t>(1, streamOut.size() / 2));
            streamPos = 0;
            streamSlowMs = ByteGapMs(f, param) > 0 ? std::max(ByteGapMs(f, param), 1) : 0;
            streamByteDueMs = 0;
            streamPaceUs = streamSlowMs > 0 ? 0.0 : ByteUs();
            streamStartUs = NowUs();
            if (streamOut.empty()) {
                StreamPause(now, kSilentFrameMs);
                return;
            }
        }
        if (streamSlowMs > 0 && now < streamByteDueMs) return;
        size_t want = streamSlowMs > 0 ? 1 : streamOut.size() - streamPos;
        if (streamPaceUs > 0) {
            const double elapsed = std::max(0.0, NowUs() - streamStartUs);
            const size_t due = std::min(streamOut.size(), static_cast<size_t>(elapsed / streamPaceUs));
            if (due <= streamPos) return;
            want = due - streamPos;
        }
        const long w = platform::IoWrite(line, streamOut.data() + streamPos, want);
        if (w < 0) {
            PeerGone();
            return;
        }
        streamPos += static_cast<size_t>(w);
        now = platform::MonotonicMs();
        if (streamPos < streamOut.size()) {
            if (w > 0 && streamSlowMs > 0) streamByteDueMs = now + static_cast<uint64_t>(streamSlowMs);
            return;
        }
        const Fault cut = streamCut;
        if (cut != Fault::None) {
            AddRecord(Record::Sent, streamOut, 0);
            DropStream();
            if (stopEvent.Wait(kCutAfterHalfMs) || stop) return;
            DoHangUp(cut == Fault::Reset);
            StreamPause(platform::MonotonicMs(), 0);
            return;
        }
        FrameDone(streamOut);
        DropStream();
        StreamPause(platform::MonotonicMs(), 0);
    }

    // How long Run may sleep for the stream, and whether it waits for the
    // line to take more.
    int StreamTimeout(uint64_t now, bool* wantWritable) const {
        *wantWritable = false;
        if (!Streams()) return kIdleWaitMs;
        uint64_t due;
        if (streamOut.empty()) {
            due = StreamDueMs();
        } else if (streamSlowMs > 0 && now < streamByteDueMs) {
            due = streamByteDueMs;
        } else if (streamPaceUs > 0) {
            const double nextUs = streamStartUs + static_cast<double>(streamPos + 1) * streamPaceUs;
            const double leftUs = nextUs - NowUs();
            return leftUs >= 2000.0 ? static_cast<int>(leftUs / 1000.0) : (leftUs > 0 ? 1 : 0);
        } else {
            *wantWritable = true;
            return kIdleWaitMs;
        }
        const int64_t left = static_cast<int64_t>(due) - static_cast<int64_t>(now);
        return left > 0 ? static_cast<int>(std::min<int64_t>(left, kIdleWaitMs)) : 0;
    }

    std::string Garbage(int count) {
        if (count > 4096) count = 4096;
        std::string g(static_cast<size_t>(count), '\0');
        if (!platform::RandomBytes(&g[0], g.size())) {
            for (size_t i = 0; i < g.size(); ++i) g[i] = static_cast<char>(0x30 + i % 10);
        }
        std::string avoid = desc ? desc->noGarbage : std::string();
        if (desc && desc->header >= 0) avoid.push_back(static_cast<char>(desc->header));
        for (char& c : g) {
            // Steps to another value until it is none of those to avoid (97 is
            // odd: 256 steps visit every value).
            for (int i = 0; i < 256 && avoid.find(c) != std::string::npos; ++i) c = static_cast<char>(c + 97);
        }
        return g;
    }

    // The effect of a command is in place before its record appears, so a
    // caller woken by WaitReceived sees it.
    void Handle(const CommandMatcher::Message& m) {
        state.Apply(m);
        if (m.kind == CommandMatcher::Request) {
            const bool restOnly = acked;
            acked = false;
            if (SendFrame(restOnly)) CloseAfterReply();
        } else {
            SendAnswer(state.Answer(m));
        }
    }

    bool EchoesInput() const {
        CAutoLockMutex lock(mu);
        return fault == Fault::Echo || fault == Fault::Loopback;
    }

    bool AckFirstByte() const {
        CAutoLockMutex lock(mu);
        return ackFirstByte;
    }

    void ReadInput() {
        char buf[512];
        for (;;) {
            if (stop) return;
            long n = platform::IoRead(line, buf, sizeof buf);
            if (n == 0) return;
            if (n < 0) {
                PeerGone();
                return;
            }
            lastInputMs = platform::MonotonicMs();
            if (EchoesInput()) {
                // Straight back, before the scale makes anything of it.
                const std::string back(buf, static_cast<size_t>(n));
                if (WriteAll(back.data(), back.size())) AddRecord(Record::Sent, back, 0);
                if (line == platform::kNoHandle || (mode == Pty && peerAbsent)) return;
            }
            // On a paced line the driver's bytes take their wire time too:
            // a byte is in only one byte time after the one before it.
            const double byteUs = ByteUs();
            std::vector<CommandMatcher::Message> msgs;
            for (long i = 0; i < n; ++i) {
                if (byteUs > 0) rxDoneUs = std::max(NowUs(), rxDoneUs) + byteUs;
                matcher.Feed(static_cast<uint8_t>(buf[i]), &msgs);
                for (const auto& m : msgs) Handle(m);
                msgs.clear();
                if (line == platform::kNoHandle || (mode == Pty && peerAbsent)) return;
                if (!matcher.HasPartial()) {
                    acked = false;
                } else if (!acked && matcher.PartialCouldBe(CommandMatcher::Request) && AckFirstByte()) {
                    acked = SendAckByte();
                    if (line == platform::kNoHandle || (mode == Pty && peerAbsent)) return;
                }
            }
        }
    }

    // Raw bytes and pushes wait while a streamed frame is half written.
    void RunQueued() {
        int pushes = 0;
        std::vector<std::string> raw;
        bool cut;
        {
            CAutoLockMutex lock(mu);
            if (streamOut.empty()) {
                pushes = pushRequests;
                pushRequests = 0;
                raw.swap(rawQueue);
            }
            cut = hangUpRequested;
            hangUpRequested = false;
        }
        if (cut) DoHangUp();
        for (const std::string& r : raw) {
            if (stop) return;
            if (EnsurePeer() && Send(r, 0)) AddRecord(Record::Sent, r, 0);
        }
        for (int i = 0; i < pushes && !stop; ++i) SendFrame();
    }

    void Run() {
        while (!stop) {
            const uint64_t now = platform::MonotonicMs();
            int timeout = kIdleWaitMs;
            platform::WaitItem items[3];
            size_t n = 0;
            items[n++] = {wake.Handle(), platform::kWaitReadable, 0};
            const bool watchLine = line != platform::kNoHandle && !(mode == Pty && peerAbsent);
            bool streamWrite = false;
            timeout = std::min(timeout, StreamTimeout(now, &streamWrite));
            const size_t lineIdx = n;
            if (watchLine)
                items[n++] = {line, platform::kWaitReadable | (streamWrite ? platform::kWaitWritable : 0), 0};
            const size_t listenIdx = n;
            const bool watchListener = mode == Tcp && line == platform::kNoHandle;
            if (watchListener) items[n++] = {listener, platform::kWaitReadable, 0};
            if (mode == Pty && peerAbsent) timeout = kAbsentRecheckMs;
            if (matcher.HasJunk()) timeout = std::min(timeout, kJunkFlushMs);
            if (noiseFromUs > 0 || CurrentFaultIs(Fault::Noise)) timeout = std::min(timeout, kNoiseStepMs);
            if (matcher.HasPartial()) {
                const int64_t left = static_cast<int64_t>(lastInputMs + kPartialFlushMs) - static_cast<int64_t>(now);
                timeout = std::min(timeout, left > 1 ? static_cast<int>(left) : 1);
            }
            {
                CAutoLockMutex lock(mu);
                timeout = sched.PushWaitMs(now, timeout);
            }
            platform::WaitHandles(items, n, timeout);
            if (stop) break;
            if (items[0].got) wake.Drain();
            if (watchListener && items[listenIdx].got) EnsurePeer();
            if (mode == Pty && peerAbsent) EnsurePeer();
            if (watchLine && (items[lineIdx].got & ~platform::kWaitWritable)) ReadInput();
            RunQueued();
            PeriodicPush();
            StreamStep();
            NoiseStep();
            IdleFlush();
        }
    }

    bool CurrentFaultIs(Fault f) const {
        CAutoLockMutex lock(mu);
        return fault == f;
    }

    // Noise: the random bytes owed since the last step at the line's pace,
    // as much as the line takes now (the rest is lost, as on a wire).
    void NoiseStep() {
        int param;
        {
            CAutoLockMutex lock(mu);
            if (fault != Fault::Noise) {
                noiseFromUs = 0;
                return;
            }
            param = faultParam;
        }
        if (!StreamPeerReady()) {
            noiseFromUs = 0;
            return;
        }
        double byteUs = ByteUs();
        if (byteUs <= 0) byteUs = 1e6 * BitsPerByte() / (param > 0 ? param : kDefaultNoiseBaud);
        const double now = NowUs();
        if (noiseFromUs <= 0) {
            noiseFromUs = now;
            return;
        }
        const size_t due = static_cast<size_t>((now - noiseFromUs) / byteUs);
        if (due == 0) return;
        noiseFromUs += static_cast<double>(due) * byteUs;
        std::string bytes(std::min(due, kNoiseChunkLimit), '\0');
        if (!platform::RandomBytes(&bytes[0], bytes.size())) {
            for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(now * 7 + i * 131);
        }
        const long w = platform::IoWrite(line, bytes.data(), bytes.size());
        if (w < 0) {
            PeerGone();
            return;
        }
        if (w > 0) AddRecord(Record::Sent, bytes.substr(0, static_cast<size_t>(w)), 0);
    }

    void PeriodicPush() {
        if (!streamOut.empty()) return;  // never inside a streamed frame
        bool due = false;
        {
            CAutoLockMutex lock(mu);
            due = sched.TakePush(platform::MonotonicMs());
        }
        if (due) SendFrame();
    }

    void IdleFlush() {
        const uint64_t quiet = platform::MonotonicMs() - lastInputMs;
        if (matcher.HasJunk() && quiet >= static_cast<uint64_t>(kJunkFlushMs)) FlushMatcher(false);
        if (matcher.HasPartial() && quiet >= static_cast<uint64_t>(kPartialFlushMs)) FlushMatcher(true);
    }

    // --- start and stop -------------------------------------------------

    bool StartThread() {
        stop = false;
        stopEvent.Wait(0);  // forget a stop of an earlier run
        wake.Drain();
        matcher = NewMatcher();
        acked = false;
        DropStream();
        {
            CAutoLockMutex lock(mu);
            sched.RestartStream();
        }
        if (!thread.Start(&Impl::ThreadEntry, this)) return false;
        return true;
    }

    void StopAll() {
        if (mode == Off) return;
        stop = true;
        stopEvent.Signal();
        wake.Signal();
        thread.Join();
        FlushMatcher(true);
        CAutoLockMutex lock(mu);
        platform::IoClose(line);
        platform::IoClose(listener);
        line = listener = platform::kNoHandle;
        if (mode == Pty) {
            if (platform::ReadSymlink(linkPath) == slavePath) platform::RemovePath(linkPath);
            if (!tempDir.empty()) platform::RemovePath(tempDir);
        }
        linkPath.clear();
        slavePath.clear();
        tempDir.clear();
        port = 0;
        mode = Off;
        pushRequests = 0;
        rawQueue.clear();
        hangUpRequested = false;
    }
};

Simulator::Simulator(int model) : model_(model), impl_(std::make_unique<Impl>(model)) {}

Simulator::Simulator(const SimModel& model) : model_(model.model), impl_(std::make_unique<Impl>(model)) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::StartPty(const std::string& linkPath) {
    Impl& s = *impl_;
    if (!s.desc || !s.desc->encode || !s.wake.Valid()) return false;
    {
        CAutoLockMutex lock(s.mu);
        if (s.mode != Impl::Off) return false;
    }
    std::string link = linkPath, dir;
    if (link.empty()) {
        dir = platform::MakePrivateTempDir("zelsim-");
        if (dir.empty()) return false;
        link = dir + "/scale" + std::to_string(model_);
    } else if (platform::FileExists(link) && platform::ReadSymlink(link).empty()) {
        return false;  // never replace a real file
    }
    std::string slave;
    int master = platform::PtyOpenMaster(&slave);
    if (master == platform::kNoHandle || !platform::ReplaceSymlink(slave, link)) {
        platform::IoClose(master);
        if (!dir.empty()) platform::RemovePath(dir);
        return false;
    }
    {
        CAutoLockMutex lock(s.mu);
        s.mode = Impl::Pty;
        s.line = master;
        s.linkPath = link;
        s.slavePath = slave;
        s.tempDir = dir;
        s.peerAbsent = true;
    }
    if (!s.StartThread()) {
        s.StopAll();
        return false;
    }
    return true;
}

bool Simulator::StartTcp(uint16_t port) {
    Impl& s = *impl_;
    if (!s.desc || !s.desc->encode || !s.wake.Valid()) return false;
    {
        CAutoLockMutex lock(s.mu);
        if (s.mode != Impl::Off) return false;
    }
    uint16_t bound = 0;
    int lst = platform::TcpListen(port, &bound);
    if (lst == platform::kNoHandle) return false;
    {
        CAutoLockMutex lock(s.mu);
        s.mode = Impl::Tcp;
        s.listener = lst;
        s.line = platform::kNoHandle;
        s.port = bound;
    }
    if (!s.StartThread()) {
        s.StopAll();
        return false;
    }
    return true;
}

void Simulator::Stop() { impl_->StopAll(); }

bool Simulator::Running() const {
    CAutoLockMutex lock(impl_->mu);
    return impl_->mode != Impl::Off;
}

std::string Simulator::DevicePath() const {
    CAutoLockMutex lock(impl_->mu);
    return impl_->linkPath;
}

std::string Simulator::SlavePath() const {
    CAutoLockMutex lock(impl_->mu);
    return impl_->slavePath;
}

uint16_t Simulator::TcpPort() const {
    CAutoLockMutex lock(impl_->mu);
    return impl_->port;
}

bool Simulator::PeerReady() const {
    CAutoLockMutex lock(impl_->mu);
    return impl_->PeerReadyLocked();
}

bool Simulator::WaitPeer(int timeoutMs) const {
    const uint64_t end = platform::MonotonicMs() + static_cast<uint64_t>(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        if (PeerReady()) return true;
        if (platform::MonotonicMs() >= end) return false;
        platform::SleepMs(5);
    }
}

void Simulator::SetWeight(double kg) { impl_->state.SetWeight(kg); }

void Simulator::SetStable(bool stable) { impl_->state.SetStable(stable); }

void Simulator::SetOverload(bool overload) { impl_->state.SetOverload(overload); }

void Simulator::SetPrice(double perKg) { impl_->state.SetPrice(perKg); }

void Simulator::SetCost(double cost) { impl_->state.SetCost(cost); }

void Simulator::SetTare(double kg) { impl_->state.SetTare(kg); }

void Simulator::SetDecimals(int decimals) { impl_->state.SetDecimals(decimals); }

void Simulator::SetNegative(bool negative) { impl_->state.SetNegative(negative); }

void Simulator::SetText(const std::string& text) { impl_->state.SetText(text); }

bool Simulator::Zeroed() const { return impl_->state.Shown().zeroed; }

double Simulator::Weight() const { return impl_->state.Shown().weight; }

double Simulator::Price() const { return impl_->state.Shown().price; }

double Simulator::Tare() const { return impl_->state.Shown().tare; }

int Simulator::Decimals() const { return impl_->state.Shown().decimals; }

void Simulator::SetCloseAfterReply(bool on) {
    CAutoLockMutex lock(impl_->mu);
    impl_->closeAfterReply = on;
}

int Simulator::Connections() const {
    CAutoLockMutex lock(impl_->mu);
    return impl_->connections;
}

void Simulator::SetFault(Fault fault, int param) {
    if (param < 0) param = 0;
    if (param > 60000) param = 60000;
    CAutoLockMutex lock(impl_->mu);
    impl_->fault = fault;
    impl_->faultParam = param;
}

Fault Simulator::CurrentFault() const {
    CAutoLockMutex lock(impl_->mu);
    return impl_->fault;
}

std::string Simulator::Frame() const { return impl_->state.Frame(); }

void Simulator::SendRaw(const std::string& bytes) {
    {
        CAutoLockMutex lock(impl_->mu);
        impl_->rawQueue.push_back(bytes);
    }
    impl_->Wake();
}

void Simulator::PushReading() {
    {
        CAutoLockMutex lock(impl_->mu);
        ++impl_->pushRequests;
    }
    impl_->Wake();
}

void Simulator::SetPushPeriodMs(int ms) {
    {
        CAutoLockMutex lock(impl_->mu);
        impl_->sched.SetPushPeriod(ms, platform::MonotonicMs());
    }
    impl_->Wake();
}

void Simulator::SetStreamGapMs(int ms) {
    {
        CAutoLockMutex lock(impl_->mu);
        impl_->sched.SetStreamGap(ms);
    }
    impl_->Wake();
}

void Simulator::SetPaceBaud(int baud) {
    CAutoLockMutex lock(impl_->mu);
    impl_->paceBaud = baud > 0 ? std::min(baud, 4000000) : 0;
}

void Simulator::SetAckFirstByte(bool on) {
    CAutoLockMutex lock(impl_->mu);
    impl_->ackFirstByte = on;
}

void Simulator::HangUp() {
    {
        CAutoLockMutex lock(impl_->mu);
        impl_->hangUpRequested = true;
    }
    impl_->Wake();
}

int Simulator::RequestsSeen() const { return impl_->state.Requests(); }

int Simulator::FramesSent() const { return impl_->state.Frames(); }

int Simulator::HangUps() const {
    CAutoLockMutex lock(impl_->mu);
    return impl_->hangups;
}

uint64_t Simulator::LastFrameSentMs() const { return impl_->state.LastFrameSentMs(); }

std::vector<std::string> Simulator::Received() const { return impl_->state.Received(); }

std::vector<Record> Simulator::Log() const { return impl_->state.Log(); }

void Simulator::ClearReceived() { impl_->state.ClearLog(); }

bool Simulator::WaitReceived(size_t count, int timeoutMs) const { return impl_->state.WaitReceived(count, timeoutMs); }

void Simulator::SetObserver(std::function<void(const Record&)> observer) {
    impl_->state.SetObserver(std::move(observer));
}

}  // namespace sim
