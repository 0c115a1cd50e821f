#include "sim/Simulator.h"

#include <algorithm>
#include <deque>

#include "platform/pty.h"
#include "platform/sync.h"
#include "platform/sys.h"
#include "sim/Frames.h"
#include "sim/Models.h"
#include "sim/ScaleState.h"
#include "sim/Schedule.h"
#include "sim/SimLine.h"

namespace sim {

namespace {

constexpr int kIdleWaitMs = 200;        // longest sleep of the scale thread
constexpr int kAbsentRecheckMs = 10;    // pty: how often to look for a client
constexpr int kJunkFlushMs = 20;        // quiet time that ends a run of noise
constexpr int kPartialFlushMs = 1000;   // quiet time that abandons half a message
constexpr int kSilentFrameMs = 20;      // streaming in silence: the time a frame "takes"
constexpr int kNoiseStepMs = 5;         // how often noise is topped up
// Half a frame stays this long on the line before the cut: a pty drops what
// its client has not read when it closes, and a reset may drop it too.
constexpr unsigned kCutAfterHalfMs = 100;

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

// The scale: its state, its line and its schedule, and the scale thread
// that joins them: reads and answers, pushes, streams.
//
// One recursive mutex, mu, guards the state (ScaleState locks it itself),
// the line's handles, fault and counters (SimLine likewise), the schedule
// and the work queued for the scale thread. The matcher and the frame being
// streamed belong to the scale thread alone.
struct Simulator::Impl {
    explicit Impl(int m) : model(m), desc(FindSimModel(m)), matcher(NewMatcher()) {}
    explicit Impl(const SimModel& d) : model(d.model), own(d), desc(&own), matcher(NewMatcher()) {}

    const int model;
    const SimModel own;          // a descriptor given to the constructor
    const SimModel* const desc;  // null for a model the simulator does not speak
    mutable platform::RecursiveMutex mu;

    ScaleState state{desc, mu};
    // The client going away or a cut drops half-read messages and the frame
    // being streamed.
    SimLine line{desc, mu, [this] {
                     FlushMatcher(true);
                     DropStream();
                     // A converter's connection takes the answers it still
                     // owes with it; a serial scale knows nothing of the port.
                     if (line.LineMode() == SimLine::Tcp) late.clear();
                 }};

    // mu.
    Schedule sched;  // pushes and streamed frames: when the next goes
    bool ackFirstByte = false;
    int pushRequests = 0;  // work handed to the scale thread
    std::vector<std::string> rawQueue;
    bool hangUpRequested = false;

    platform::Thread thread;
    platform::WakePipe wake;

    // Scale-thread only.
    CommandMatcher matcher;
    uint64_t lastInputMs = 0;
    bool acked = false;        // the frame's first byte went for a partial request
    std::string streamOut;     // the streamed frame being written
    size_t streamPos = 0;      // bytes of it written
    int streamSlowMs = 0;      // SlowBytes: the pause after each byte
    uint64_t streamByteDueMs = 0;  // SlowBytes: when the next byte may go
    double streamPaceUs = 0;       // paced stream: the time of one byte
    double streamStartUs = 0;      // paced stream: when the frame began
    Fault streamCut = Fault::None; // HalfThenHangUp / Reset: cut when the half frame is out
    struct LateAnswer {
        uint64_t dueMs;
        std::string bytes;
    };
    std::deque<LateAnswer> late;  // Late: answers not yet due, oldest first

    CommandMatcher NewMatcher() const {
        return CommandMatcher(desc ? desc->patterns : std::vector<CommandMatcher::Pattern>());
    }

    bool Streams() const { return desc != nullptr && desc->mode == SimModel::Streams; }

    static void ThreadEntry(void* p) { static_cast<Impl*>(p)->Run(); }

    void AddRecord(Record::Kind kind, const std::string& bytes, long long value) {
        state.AddRecord(kind, bytes, value);
    }

    void Wake() { wake.Signal(); }

    bool Stopping() const { return line.Stopping(); }

    // The line went away under the scale (cut or client gone).
    bool LineLost() const { return line.Handle() == platform::kNoHandle || line.Absent(); }

    void FlushMatcher(bool partialToo) {
        if (partialToo) acked = false;
        std::vector<CommandMatcher::Message> msgs;
        matcher.Flush(&msgs, partialToo);
        for (const auto& m : msgs) AddRecord(RecordKindOf(m.kind), m.bytes, m.value);
    }

    // Cuts the line on purpose; `reset`: a TCP connection ends with a reset.
    void DoHangUp(bool reset = false) {
        line.Cut(reset);
        matcher = NewMatcher();
        acked = false;
        AddRecord(Record::LineCut, std::string(), 0);
    }

    // The frame of what the scale shows now, with the fault applied.
    std::string FaultedFrame(Fault f, int param) const { return FaultedBytes(desc, state.Frame(), f, param); }

    void FrameDone(const std::string& bytes) { state.FrameDone(bytes, platform::MonotonicMs()); }

    // A converter that drops the connection after each exchange: the reply
    // is written, then the connection closed; the next one is accepted.
    void CloseAfterReply() {
        if (line.CloseAfterReply()) {
            matcher = NewMatcher();
            acked = false;
        }
    }

    // Answers a request or pushes a reading, with the current fault; true
    // when a frame went out. `restOnly`: the first byte went already (SendAckByte).
    bool SendFrame(bool restOnly = false) {
        Fault f;
        int param;
        line.TakeFault(&f, &param);
        if (f == Fault::HangUp) {
            DoHangUp();
            return false;
        }
        if (FaultMutes(f) || !line.EnsurePeer()) return false;
        std::string bytes = FaultedFrame(restOnly && f == Fault::Garbage ? Fault::None : f, param);
        if (restOnly) bytes.erase(0, 1);
        if (FaultCutsHalfway(f)) {
            bytes.resize(std::max<size_t>(1, bytes.size() / 2));
            if (line.Send(bytes, 0)) AddRecord(Record::Sent, bytes, 0);
            if (line.Pause(kCutAfterHalfMs)) return false;
            DoHangUp(f == Fault::Reset);
            return false;
        }
        // Another scale's frame right behind this one goes out in the same
        // write: back to back whatever the machine's load.
        const std::string second = f == Fault::SecondScale && param == 0 ? OtherScaleFrame() : std::string();
        if (!line.Send(bytes + second, FaultByteGapMs(f, param))) return false;
        FrameDone(bytes);
        if (!second.empty()) AddRecord(Record::Sent, second, 0);
        return true;
    }

    // The first byte of the frame for the first byte of a request (after the
    // garbage of the Garbage fault). Silence and HangUp send nothing here.
    bool SendAckByte() {
        Fault f;
        int param;
        line.GetFault(&f, &param);
        // Faults that shape the whole frame send it in one piece after the
        // request.
        const bool firstByteGoes = f == Fault::None || f == Fault::Garbage || f == Fault::BrokenFrame ||
                                   f == Fault::SlowBytes || f == Fault::Echo || f == Fault::Drip ||
                                   f == Fault::SecondScale;
        if (!firstByteGoes || !line.EnsurePeer()) return false;
        std::string bytes = FaultedFrame(f, param);
        if (f == Fault::Garbage) bytes.resize(static_cast<size_t>(param > 0 ? std::min(param, 4096) : 5) + 1);
        else bytes.resize(bytes.empty() ? 0 : 1);
        if (bytes.empty() || !line.Send(bytes, 0)) return false;
        AddRecord(Record::Sent, bytes, 0);
        return true;
    }

    // The answer to a command: the faults that mute the scale or slow its
    // bytes apply, nothing else.
    void SendAnswer(const std::string& bytes) {
        Fault f;
        int param;
        line.GetFault(&f, &param);
        if (bytes.empty() || FaultMutes(f) || !line.EnsurePeer()) return;
        if (line.Send(bytes, FaultByteGapMs(f, param))) AddRecord(Record::Sent, bytes, 0);
    }

    // --- streaming --------------------------------------------------------

    void DropStream() {
        streamOut.clear();
        streamPos = 0;
        streamSlowMs = 0;
        streamCut = Fault::None;
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
        if (!Streams() || Stopping()) return;
        uint64_t now = platform::MonotonicMs();
        if (streamOut.empty()) {
            if (now < StreamDueMs()) return;
            if (!line.StreamPeerReady()) {
                StreamRetryAt(now + kAbsentRecheckMs);  // starts soon after a client comes
                return;
            }
            StreamRetryAt(0);
            Fault f;
            int param;
            line.TakeFault(&f, &param);
            if (f == Fault::HangUp) {
                DoHangUp();
                StreamPause(now, 0);
                return;
            }
            if (FaultMutes(f)) {
                StreamPause(now, kSilentFrameMs);
                return;
            }
            streamOut = FaultedFrame(f, param);
            // HalfThenHangUp and Reset: half the frame, then the cut.
            streamCut = FaultCutsHalfway(f) ? f : Fault::None;
            if (streamCut != Fault::None) streamOut.resize(std::max<size_t>(1, streamOut.size() / 2));
            streamPos = 0;
            const int gap = FaultByteGapMs(f, param);
            streamSlowMs = gap > 0 ? std::max(gap, 1) : 0;
            streamByteDueMs = 0;
            streamPaceUs = streamSlowMs > 0 ? 0.0 : line.ByteUs();
            streamStartUs = SimLine::NowUs();
            if (streamOut.empty()) {
                StreamPause(now, kSilentFrameMs);
                return;
            }
        }
        if (streamSlowMs > 0 && now < streamByteDueMs) return;
        size_t want = streamSlowMs > 0 ? 1 : streamOut.size() - streamPos;
        if (streamPaceUs > 0) {
            const double elapsed = std::max(0.0, SimLine::NowUs() - streamStartUs);
            const size_t due = std::min(streamOut.size(), static_cast<size_t>(elapsed / streamPaceUs));
            if (due <= streamPos) return;
            want = due - streamPos;
        }
        const long w = line.WriteSome(streamOut.data() + streamPos, want);
        if (w < 0) return;  // the client went; the frame with it
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
            if (line.Pause(kCutAfterHalfMs)) return;
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
        if (streamOut.empty()) {
            CAutoLockMutex lock(mu);
            return sched.StreamWaitMs(now, kIdleWaitMs);
        }
        if (streamSlowMs > 0 && now < streamByteDueMs) {
            const int64_t left = static_cast<int64_t>(streamByteDueMs) - static_cast<int64_t>(now);
            return static_cast<int>(std::min<int64_t>(left, kIdleWaitMs));
        }
        if (streamPaceUs > 0) {
            const double nextUs = streamStartUs + static_cast<double>(streamPos + 1) * streamPaceUs;
            const double leftUs = nextUs - SimLine::NowUs();
            return leftUs >= 2000.0 ? static_cast<int>(leftUs / 1000.0) : (leftUs > 0 ? 1 : 0);
        }
        *wantWritable = true;
        return kIdleWaitMs;
    }

    // The effect of a command is in place before its record appears, so a
    // caller woken by WaitReceived sees it.
    void Handle(const CommandMatcher::Message& m) {
        state.Apply(m);
        if (m.kind == CommandMatcher::Request) {
            const bool restOnly = acked;
            acked = false;
            Fault f;
            int param;
            line.GetFault(&f, &param);
            if (f == Fault::Late) {
                // What the scale shows now, sent when it is due.
                late.push_back({platform::MonotonicMs() + static_cast<uint64_t>(param), state.Frame()});
                return;
            }
            if (!SendFrame(restOnly)) return;
            if (f == Fault::SecondScale) SendSecondScale(param);
            CloseAfterReply();
        } else {
            SendAnswer(state.Answer(m));
        }
    }

    // SecondScale: another scale at the same address answers the request
    // too, showing 1.111 kg more.
    // Back to back (no gap), SendFrame sends it with the first frame.
    void SendSecondScale(int gapMs) {
        if (gapMs <= 0 || line.Pause(static_cast<unsigned>(gapMs))) return;
        const std::string bytes = OtherScaleFrame();
        if (!bytes.empty() && line.EnsurePeer() && line.Send(bytes, 0)) AddRecord(Record::Sent, bytes, 0);
    }

    std::string OtherScaleFrame() {
        Display other = state.Current();
        other.weight += 1.111;
        return state.Encode(other);
    }

    // Late: the answers that are due go out; on a pty nobody holds, they
    // are lost as on a wire.
    void SendLate() {
        const uint64_t now = platform::MonotonicMs();
        while (!late.empty() && late.front().dueMs <= now && !Stopping()) {
            const std::string bytes = late.front().bytes;
            late.pop_front();
            if (!line.EnsurePeer() || !line.Send(bytes, 0)) continue;
            FrameDone(bytes);
            CloseAfterReply();
        }
    }

    int LateWaitMs(uint64_t now, int timeout) const {
        if (late.empty()) return timeout;
        const uint64_t due = late.front().dueMs;
        if (due <= now) return 0;
        return static_cast<int>(std::min<uint64_t>(due - now, static_cast<uint64_t>(timeout)));
    }

    bool EchoesInput() const {
        const Fault f = line.CurrentFault();
        return f == Fault::Echo || f == Fault::Loopback;
    }

    bool AckFirstByte() const {
        CAutoLockMutex lock(mu);
        return ackFirstByte;
    }

    void ReadInput() {
        char buf[512];
        for (;;) {
            if (Stopping()) return;
            long n = platform::IoRead(line.Handle(), buf, sizeof buf);
            if (n == 0) return;
            if (n < 0) {
                line.PeerGone();
                return;
            }
            lastInputMs = platform::MonotonicMs();
            if (EchoesInput()) {
                // Straight back, before the scale makes anything of it.
                const std::string back(buf, static_cast<size_t>(n));
                if (line.WriteAll(back.data(), back.size())) AddRecord(Record::Sent, back, 0);
                if (LineLost()) return;
            }
            // On a paced line the driver's bytes take their wire time too:
            // a byte is in only one byte time after the one before it.
            const double byteUs = line.ByteUs();
            std::vector<CommandMatcher::Message> msgs;
            for (long i = 0; i < n; ++i) {
                line.ByteReceived(byteUs);
                matcher.Feed(static_cast<uint8_t>(buf[i]), &msgs);
                for (const auto& m : msgs) Handle(m);
                msgs.clear();
                if (LineLost()) return;
                if (!matcher.HasPartial()) {
                    acked = false;
                } else if (!acked && matcher.PartialCouldBe(CommandMatcher::Request) && AckFirstByte()) {
                    acked = SendAckByte();
                    if (LineLost()) return;
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
            if (Stopping()) return;
            if (line.EnsurePeer() && line.Send(r, 0)) AddRecord(Record::Sent, r, 0);
        }
        for (int i = 0; i < pushes && !Stopping(); ++i) SendFrame();
    }

    void Run() {
        while (!Stopping()) {
            const uint64_t now = platform::MonotonicMs();
            int timeout = kIdleWaitMs;
            platform::WaitItem items[3];
            size_t n = 0;
            items[n++] = {wake.Handle(), platform::kWaitReadable, 0};
            const bool watchLine = line.Watchable();
            bool streamWrite = false;
            timeout = std::min(timeout, StreamTimeout(now, &streamWrite));
            const size_t lineIdx = n;
            if (watchLine)
                items[n++] = {line.Handle(), platform::kWaitReadable | (streamWrite ? platform::kWaitWritable : 0), 0};
            const size_t listenIdx = n;
            const bool tcp = line.LineMode() == SimLine::Tcp;
            const bool watchListener = tcp && line.Handle() == platform::kNoHandle;
            if (watchListener) items[n++] = {line.Listener(), platform::kWaitReadable, 0};
            if (line.Absent()) timeout = kAbsentRecheckMs;
            if (matcher.HasJunk()) timeout = std::min(timeout, kJunkFlushMs);
            if (line.NoiseRunning() || line.CurrentFault() == Fault::Noise) timeout = std::min(timeout, kNoiseStepMs);
            if (matcher.HasPartial()) {
                const int64_t left = static_cast<int64_t>(lastInputMs + kPartialFlushMs) - static_cast<int64_t>(now);
                timeout = std::min(timeout, left > 1 ? static_cast<int>(left) : 1);
            }
            {
                CAutoLockMutex lock(mu);
                timeout = sched.PushWaitMs(now, timeout);
            }
            timeout = LateWaitMs(now, timeout);
            platform::WaitHandles(items, n, timeout);
            if (Stopping()) break;
            if (items[0].got) wake.Drain();
            if (watchListener && items[listenIdx].got) line.EnsurePeer();
            if (line.Absent()) line.EnsurePeer();
            if (watchLine && (items[lineIdx].got & ~platform::kWaitWritable)) ReadInput();
            RunQueued();
            SendLate();
            PeriodicPush();
            StreamStep();
            const std::string noise = line.NoiseStep();
            if (!noise.empty()) AddRecord(Record::Sent, noise, 0);
            IdleFlush();
        }
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

    bool CanStart() const { return desc && desc->encode && wake.Valid(); }

    bool StartThread() {
        line.ClearStop();
        wake.Drain();
        matcher = NewMatcher();
        acked = false;
        DropStream();
        late.clear();
        {
            CAutoLockMutex lock(mu);
            sched.RestartStream();
        }
        return thread.Start(&Impl::ThreadEntry, this);
    }

    void StopAll() {
        if (line.LineMode() == SimLine::Off) return;
        line.RequestStop();
        wake.Signal();
        thread.Join();
        FlushMatcher(true);
        CAutoLockMutex lock(mu);
        line.Close();
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
    if (!s.CanStart() || !s.line.OpenPty(linkPath, "scale" + std::to_string(model_))) return false;
    if (!s.StartThread()) {
        s.StopAll();
        return false;
    }
    return true;
}

bool Simulator::StartTcp(uint16_t port) {
    Impl& s = *impl_;
    if (!s.CanStart() || !s.line.OpenTcp(port)) return false;
    if (!s.StartThread()) {
        s.StopAll();
        return false;
    }
    return true;
}

void Simulator::Stop() { impl_->StopAll(); }

bool Simulator::Running() const { return impl_->line.LineMode() != SimLine::Off; }

std::string Simulator::DevicePath() const { return impl_->line.LinkPath(); }

std::string Simulator::SlavePath() const { return impl_->line.SlavePath(); }

uint16_t Simulator::TcpPort() const { return impl_->line.Port(); }

bool Simulator::PeerReady() const { return impl_->line.PeerReady(); }

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

void Simulator::SetCloseAfterReply(bool on) { impl_->line.SetCloseAfterReply(on); }

int Simulator::Connections() const { return impl_->line.Connections(); }

void Simulator::SetFault(Fault fault, int param) { impl_->line.SetFault(fault, param); }

Fault Simulator::CurrentFault() const { return impl_->line.CurrentFault(); }

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

void Simulator::SetPaceBaud(int baud) { impl_->line.SetPaceBaud(baud); }

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

int Simulator::HangUps() const { return impl_->line.HangUps(); }

uint64_t Simulator::LastFrameSentMs() const { return impl_->state.LastFrameSentMs(); }

std::vector<std::string> Simulator::Received() const { return impl_->state.Received(); }

std::vector<Record> Simulator::Log() const { return impl_->state.Log(); }

void Simulator::ClearReceived() { impl_->state.ClearLog(); }

bool Simulator::WaitReceived(size_t count, int timeoutMs) const { return impl_->state.WaitReceived(count, timeoutMs); }

void Simulator::SetObserver(std::function<void(const Record&)> observer) {
    impl_->state.SetObserver(std::move(observer));
}

}  // namespace sim
