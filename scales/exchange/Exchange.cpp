#include "scales/exchange/Exchange.h"

#include <cstring>
#include <vector>

#include "core/ResultCodes.h"
#include "scales/exchange/EchoGuard.h"
#include "scales/exchange/SplitSend.h"
#include "scales/exchange/Stream.h"

namespace zel {
namespace exchange {

namespace {

const size_t kCommandDrainBufferSize = 10240;
// The collision check reads for at most this long, however the bytes come.
const uint64_t kCollisionLimitMs = 200;

bool IsHeader(const PolledProtocol& p, uint8_t b) {
    for (int i = 0; i < p.headerCount && i < 2; ++i)
        if (p.header[i] == b) return true;
    return false;
}

// Returns how many bytes it dropped.
size_t Drain(IByteLine& line, std::vector<uint8_t>& scratch) {
    size_t total = 0;
    while (total < kDrainLimit) {
        int n = line.Read(scratch.data(), static_cast<int>(scratch.size()));
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    return total;
}

// A reply with no header to hunt for can only be found by its place: when an
// attempt ends inside a frame (a slow line, a host that fell behind), the rest
// of that frame is still on its way and would open the next attempt's frame,
// shifting every field. Those bytes are owed: they are dropped, each wait for
// them charged to the budget, before the next frame is collected. False when
// the budget ran out first.
int WaitStep(IByteLine& line);

bool SkipOwed(IByteLine& line, int& owed, int& budget) {
    uint8_t scratch[PolledProtocol::kMaxReply];
    while (owed > 0 && budget > 0) {
        const int want = owed < static_cast<int>(sizeof scratch) ? owed : static_cast<int>(sizeof scratch);
        const int n = line.Read(scratch, want);
        if (n > 0) {
            owed -= n < owed ? n : owed;
            continue;
        }
        budget -= WaitStep(line);
    }
    return owed == 0;
}

// The pause of a split send, spent waiting for the scale's answer to the
// first byte: a CAS scale answers ENQ with ACK at once, and that ACK is the
// frame's header. When the header comes, the rest goes at once; any other
// byte (a NAK) or silence gets the whole pause, as with a plain sleep. The
// byte read is handed back (-1 for none) to open the collection, so the
// frame is collected exactly as if it had stayed in the input. An echo of
// the first byte is taken out by the guard and reads as nothing: the wait
// for the answer goes on within the pause.
int AwaitFirstAnswer(const PolledProtocol& p, EchoGuard& line) {
    const uint64_t start = line.NowMs();
    auto spent = [&] {
        const uint64_t now = line.NowMs();
        return now > start ? now - start : 0;
    };
    uint8_t b = 0;
    bool got = false;
    for (uint64_t used = 0; used < kSplitPauseMs; used = spent()) {
        if (!line.WaitForInput(static_cast<unsigned>(kSplitPauseMs - used))) break;
        const size_t dropped = line.Dropped();
        got = line.Read(&b, 1) == 1;
        if (got || line.Dropped() == dropped) break;
    }
    // A byte that is not the header, silence, or a line that cannot deliver
    // (it closed): the rest of the pause is slept out.
    if (!got || !IsHeader(p, b)) {
        const uint64_t used = spent();
        if (used < kSplitPauseMs) line.Sleep(static_cast<unsigned>(kSplitPauseMs - used));
    }
    return got ? b : -1;
}

// Writes the request; returns a byte the scale already sent (-1 for none).
int SendRequest(const PolledProtocol& p, EchoGuard& line, const CycleOptions& options) {
    if (!p.request || p.requestLength <= 0) return -1;
    if (!p.splitSend) {
        line.Write(p.request, p.requestLength);
        return -1;
    }
    if (options.fixedSplitPause || p.headerCount == 0) return SendSplit(line, p.request, p.requestLength);
    return SendSplit(line, p.request, p.requestLength, [&] { return AwaitFirstAnswer(p, line); });
}

// One polling step on an empty line, returning the budget it costs: the full
// step when nothing came, else the time really waited (at least 1 ms). The
// wait ends as soon as bytes arrive, so charging the full step for it would
// make a scale whose bytes come one by one (a slow line, a converter that
// hands on every byte) pay 50 ms per byte and never complete its frame.
int WaitStep(IByteLine& line) {
    const uint64_t start = line.NowMs();
    if (!line.WaitForInput(kPollStepMs)) return kPollStepMs;
    const uint64_t now = line.NowMs();
    const uint64_t took = now > start ? now - start : 0;
    if (took < 1) return 1;
    return took < static_cast<uint64_t>(kPollStepMs) ? static_cast<int>(took) : kPollStepMs;
}

bool HasHeader(const PolledProtocol& p) { return p.policy != HeaderPolicy::kNone && p.headerCount > 0; }

// A frame made of nothing but the request's own bytes is the line handing
// the request back, never a reply.
bool IsEchoOfRequest(const PolledProtocol& p, const uint8_t* frame, size_t length) {
    return p.request && p.requestLength > 0 && length > 0 && length <= static_cast<size_t>(p.requestLength) &&
           std::memcmp(frame, p.request, length) == 0;
}

// The frame check the engine applies to a complete frame: not the request
// handed back, and accepted.
Refusal CheckFrame(const PolledProtocol& p, const uint8_t* frame, size_t length) {
    if (IsEchoOfRequest(p, frame, length)) return Refusal::kEcho;
    if (p.layout && !FixedFieldsHold(*p.layout, frame, length)) return Refusal::kFormat;
    return p.accepts(frame, length) ? Refusal::kNone : Refusal::kFormat;
}

bool FrameComplete(const PolledProtocol& p, const uint8_t* frame, int count) {
    if (count >= p.replyLength) return true;
    return p.complete && count > 0 && p.complete(frame, static_cast<size_t>(count));
}

// Goes on collecting into `frame`, which holds `count` bytes, until the frame
// is complete or the budget is spent, spending budget only on waiting for
// bytes and on wrong header bytes.
// `pending` is a byte already read from the line (-1 for none): it is taken
// before anything else is read.
void Collect(const PolledProtocol& p, IByteLine& line, uint8_t* frame, int& count, int& budget, int& pending) {
    const int n = p.replyLength;
    const bool hasHeader = HasHeader(p);
    if (FrameComplete(p, frame, count)) return;
    while (budget > 0) {
        if (count == 0 && hasHeader) {
            uint8_t b = 0;
            int got;
            if (pending >= 0) {
                b = static_cast<uint8_t>(pending);
                pending = -1;
                got = 1;
            } else {
                got = line.Read(&b, 1);
            }
            if (got <= 0) {
                budget -= WaitStep(line);
                continue;
            }
            if (!IsHeader(p, b)) {
                if (p.policy == HeaderPolicy::kStrict) {
                    line.Sleep(kPollStepMs);
                    budget -= kPollStepMs;
                } else {
                    budget -= kHuntedWrongByteMs;
                }
                continue;
            }
            frame[0] = b;
            count = 1;
        } else if (pending >= 0) {
            frame[count++] = static_cast<uint8_t>(pending);
            pending = -1;
        } else {
            int got = line.Read(frame + count, n - count);
            if (got <= 0) {
                budget -= WaitStep(line);
                continue;
            }
            count += got < n - count ? got : n - count;
        }
        if (FrameComplete(p, frame, count)) return;
    }
}

// A refused frame on a hunted line may have started at a header-valued byte
// inside another frame: drop its first byte and everything before the next
// header byte it holds, each at the cost of a wrong header byte, and keep the
// rest. The tail of the buffer stays zero.
void Resync(const PolledProtocol& p, uint8_t* frame, int& count, int& budget) {
    int next = 1;
    while (next < count && !IsHeader(p, frame[next])) ++next;
    const int kept = count - next;
    if (kept > 0) std::memmove(frame, frame + next, static_cast<size_t>(kept));
    std::memset(frame + kept, 0, static_cast<size_t>(PolledProtocol::kMaxReply + 1 - kept));
    count = kept;
    budget -= next * kHuntedWrongByteMs;
}

// A reply that may begin with the request's own bytes cannot be told from
// an echo by what it holds, but a scale sends one frame per request. When a
// complete frame starts with the whole request and more bytes follow at
// once, the line echoed: the frame is taken again without the echo, with
// as many bytes more. Bytes that follow but make no whole frame leave
// neither reading trustworthy.
enum class EchoCount : uint8_t { kAsIs, kShifted, kRefused };

// A complete frame of N bytes that begins with the whole request, on a
// protocol whose reply may: an echo is told from a reply by what follows.
bool MayBeEchoAhead(const PolledProtocol& p, const uint8_t* frame, size_t count) {
    const int echo = p.requestLength;
    return p.replyMayStartWithRequest && !p.complete && !p.splitSend && p.request && echo > 0 &&
           echo < p.replyLength && count == static_cast<size_t>(p.replyLength) &&
           std::memcmp(frame, p.request, static_cast<size_t>(echo)) == 0;
}

EchoCount TakeOutEchoByCount(const PolledProtocol& p, IByteLine& line, uint8_t* frame, int count, int& budget) {
    const int echo = p.requestLength;
    if (count < 0 || !MayBeEchoAhead(p, frame, static_cast<size_t>(count))) return EchoCount::kAsIs;
    uint8_t more[PolledProtocol::kMaxReply];
    int got = 0;
    while (got < echo && budget > 0) {
        const int n = line.Read(more + got, echo - got);
        if (n > 0) {
            got += n < echo - got ? n : echo - got;
            continue;
        }
        const int cost = WaitStep(line);
        budget -= cost;
        if (cost == kPollStepMs) break;  // the line fell silent
    }
    if (got == 0) return EchoCount::kAsIs;
    if (got < echo) return EchoCount::kRefused;
    std::memmove(frame, frame + echo, static_cast<size_t>(count - echo));
    std::memcpy(frame + count - echo, more, static_cast<size_t>(echo));
    return EchoCount::kShifted;
}

// After a frame that answers a request: whatever follows within the
// collision window (and goes on coming without a pause that long, up to two
// frames' worth) is read, and a whole frame among it is a second talker
// answering the same request (two scales at one address, a bus). Bytes that
// make no frame (a line end, the start of a stale frame) are no sign of one.
bool SecondFrameFollows(const PolledProtocol& p, IByteLine& line) {
    const int cap = 2 * p.replyLength + 2;
    uint8_t more[2 * PolledProtocol::kMaxReply + 2];
    int got = 0;
    const uint64_t start = line.NowMs();
    uint64_t quietFrom = start;
    while (got < cap) {
        const int n = line.Read(more + got, cap - got);
        const uint64_t now = line.NowMs();
        if (n > 0) {
            got += n < cap - got ? n : cap - got;
            quietFrom = now;
            continue;
        }
        const uint64_t quiet = now > quietFrom ? now - quietFrom : 0;
        if (quiet >= kCollisionWindowMs || now - start >= kCollisionLimitMs) break;
        line.WaitForInput(static_cast<unsigned>(kCollisionWindowMs - quiet));
    }
    const int n = p.replyLength;
    for (int at = 0; at < got; ++at) {
        if (HasHeader(p) && !IsHeader(p, more[at])) continue;
        // A whole frame: N bytes, or fewer where the end condition holds.
        const int rest = got - at;
        int length = rest >= n ? n : 0;
        if (p.complete)
            for (int k = 1; k <= rest && k <= n; ++k)
                if (p.complete(more + at, static_cast<size_t>(k))) {
                    length = k;
                    break;
                }
        if (length == 0) continue;
        uint8_t frame[PolledProtocol::kMaxReply + 1] = {0};
        std::memcpy(frame, more + at, static_cast<size_t>(length));
        if (CheckFrame(p, frame, static_cast<size_t>(length)) == Refusal::kNone) return true;
    }
    return false;
}

// What one attempt's collection came to.
struct Taken {
    int unfinished = 0;  // bytes of a frame that did not complete (0 when one was judged)
    int frames = 0;      // replies seen: judged frames, and a second talker's
    bool checked = false;  // the frame passed the protocol's check
};

// Collects and judges one attempt's frame; true, with the decoder's verdict
// in `decoded`, when a frame was accepted. With `single`, the scale sends
// one frame per request and a second one right after it fails the attempt.
bool TakeFrame(const PolledProtocol& p, IByteLine& line, uint8_t* frame, int& budget, Reading& io,
               Decoded& decoded, int pending, bool single, Taken& taken) {
    taken = Taken();
    if (p.stream && p.policy == HeaderPolicy::kHunted && HasHeader(p))
        return TakeStreamFrame(p, line, frame, budget, io, decoded, pending);
    int count = 0;
    for (;;) {
        Collect(p, line, frame, count, budget, pending);
        const bool judged = p.complete ? count > 0 : count == p.replyLength;
        if (!judged) taken.unfinished = count;
        if (judged) taken.frames = 1;
        if (judged && TakeOutEchoByCount(p, line, frame, count, budget) == EchoCount::kRefused) return false;
        if (judged) {
            const Reading before = io;
            const ReplyJudgement j = JudgeCollected(p, frame, static_cast<size_t>(count), io);
            if (j.refusal == Refusal::kNone || j.refusal == Refusal::kDecoder) {
                // The decoder ran: its verdict decides how the cycle goes on.
                taken.checked = true;
                decoded = j.decoded;
                if (single && SecondFrameFollows(p, line)) {
                    io = before;  // neither frame is a reading
                    taken.frames = 2;
                    return false;
                }
                return true;
            }
        }
        if (!judged || p.policy != HeaderPolicy::kHunted || !HasHeader(p) || budget <= 0) return false;
        Resync(p, frame, count, budget);
    }
}

// True for a protocol whose every request is answered by one frame: there
// replies are owed and counted. A scale that transmits all the time owes
// none.
bool OwesReplies(const PolledProtocol& p) { return p.request && p.requestLength > 0 && !p.stream; }

// A header-less frame of fixed length is found only by its place.
bool Placed(const PolledProtocol& p) {
    return p.policy == HeaderPolicy::kNone && !p.complete && !p.splitSend && !p.repliesMayBeShort;
}

// Replies that earlier calls' requests still owe come first: each frame
// that arrives answers the oldest of them and is dropped, until none is
// owed (its frame came, or it is no longer awaited). A scale answers in
// order, so the first frame after that is an answer to this call.
void AwaitOwed(const PolledProtocol& p, IByteLine& line, LineAccount& account) {
    const int n = p.replyLength;
    uint8_t frame[PolledProtocol::kMaxReply + 1];
    for (int step = 0; step < 64; ++step) {
        const uint64_t now = line.NowMs();
        if (account.Owed(now) == 0) return;
        if (line.ConnectionLost()) {
            account.Forget();  // the connection went with what it owed
            return;
        }
        const uint64_t until = account.OldestExpiryMs();
        int budget = until > now ? static_cast<int>(until - now) : 1;
        if (Placed(p) && account.OldestReceived() > 0) {
            int rest = n - account.OldestReceived();
            const int before = rest;
            SkipOwed(line, rest, budget);
            account.Received(before - rest, n, line.NowMs());
            continue;
        }
        std::memset(frame, 0, sizeof(frame));
        int count = 0, pending = -1;
        Collect(p, line, frame, count, budget, pending);
        if (p.complete ? count > 0 : count == n)
            account.Answered(line.NowMs(), CheckFrame(p, frame, static_cast<size_t>(count)) == Refusal::kNone);
        else if (Placed(p) && count > 0)
            account.Received(count, n, line.NowMs());
        else if (count > 0)
            account.Answered(line.NowMs(), false);  // a reply cut short
        // Otherwise the wait ran to the oldest's expiry, which forgets it.
    }
}

// Drained bytes answer the oldest owed requests: byte by byte for a
// header-less frame, a whole frame's worth each for the others.
void SettleDrained(const PolledProtocol& p, LineAccount& account, size_t drained, uint64_t now) {
    const int n = p.replyLength;
    if (drained == 0 || account.Owed(now) == 0) return;
    if (Placed(p)) {
        const size_t limit = static_cast<size_t>(n) * 64;
        account.Received(static_cast<int>(drained < limit ? drained : limit), n, now);
        return;
    }
    for (size_t frames = drained / static_cast<size_t>(n); frames > 0 && account.Owed(now) > 0; --frames)
        account.Answered(now, false);
}

// -0.0 reads as 0.
void NoMinusZero(Reading& r) {
    if (r.weight == 0.0) r.weight = 0.0;
    if (r.price == 0.0) r.price = 0.0;
    if (r.cost == 0.0) r.cost = 0.0;
}

void InitOutputs(OutputInit init, Reading& io) {
    switch (init) {
        case OutputInit::kClearAll:
            io = Reading();
            break;
        case OutputInit::kKeepValuesStable0:
            io.stable = 0;
            break;
        case OutputInit::kKeepValuesStable1:
            io.stable = 1;
            break;
    }
}

// Collects the reply a command expects within its budget and judges it.
bool TakeCommandReply(const CommandSpec& c, IByteLine& line) {
    if (c.replyLength > PolledProtocol::kMaxReply || c.replyBudgetMs <= 0) return false;
    PolledProtocol reply;
    reply.replyLength = c.replyLength;
    uint8_t frame[PolledProtocol::kMaxReply + 1];
    std::memset(frame, 0, sizeof(frame));
    int count = 0;
    int budget = c.replyBudgetMs;
    int pending = -1;
    Collect(reply, line, frame, count, budget, pending);
    return count == c.replyLength && (!c.confirms || c.confirms(frame, static_cast<size_t>(count)));
}

}  // namespace

bool IsRunnable(const PolledProtocol& p) {
    return p.replyLength >= 1 && p.replyLength <= PolledProtocol::kMaxReply && p.attempts >= 1 && p.budgetMs > 0 &&
           p.headerCount >= 0 && p.headerCount <= 2 && p.accepts && p.decode && p.drainBufferSize > 0 &&
           (p.requestLength == 0 || p.request);
}

namespace {

int32_t RunCycle(const PolledProtocol& p, IByteLine& line, IExchangeSession& session, Reading& io,
                 const CycleOptions& options) {
    InitOutputs(p.init, io);
    if (!IsRunnable(p)) return kNotSupported;
    LineAccount own;
    LineAccount& account = options.account ? *options.account : own;
    const bool owes = OwesReplies(p);
    try {
        int32_t r = session.EnsureConnected();
        if (r != 0) return r;
        if (owes) AwaitOwed(p, line, account);

        std::vector<uint8_t> scratch(static_cast<size_t>(p.drainBufferSize));
        int32_t result = kNoAnswer;
        // A line that answers later than the budget gets a wider wait: the
        // first attempt's (or the call's) budget covers its recent delays.
        const int wait = owes ? account.WaitMs(p.budgetMs) : p.budgetMs;
        int budget = wait;
        const bool placed = Placed(p);
        const int n = p.replyLength;
        for (int attempt = 0; attempt < p.attempts; ++attempt) {
            const size_t drained = Drain(line, scratch);
            if (owes) SettleDrained(p, account, drained, line.NowMs());
            // A converter that hangs up after each reply leaves a connection
            // that only the drain finds ended: open a new one before the
            // request goes out (once per attempt).
            if (line.ConnectionLost()) {
                account.Forget();
                r = session.EnsureConnected();
                if (r != 0) {
                    if (result == kNoAnswer) return r;
                    break;  // keep the frame an earlier attempt accepted
                }
            }
            EchoGuard guarded(line, !p.replyMayStartWithRequest);
            if (owes) account.Sent(line.NowMs());
            const int pending = SendRequest(p, guarded, options);
            if (p.scope == BudgetScope::kPerAttempt) budget = attempt == 0 ? wait : p.budgetMs;
            // One spare zero byte after the frame, so no decoder can run
            // off its end when it hands a field to a text conversion.
            uint8_t frame[PolledProtocol::kMaxReply + 1];
            std::memset(frame, 0, sizeof(frame));
            Decoded decoded(kNoAnswer);
            // A header-less reply with no header to hunt for can only be
            // found by its place: the rest of an earlier attempt's
            // unfinished frame is still on its way and would open this
            // frame, shifting every field. It is dropped first.
            if (placed && account.Owed(line.NowMs()) > 1 && account.OldestReceived() > 0) {
                int rest = n - account.OldestReceived();
                const int before = rest;
                const bool skipped = SkipOwed(guarded, rest, budget);
                account.Received(before - rest, n, line.NowMs());
                if (!skipped) continue;
            }
            Taken taken;
            const bool took = TakeFrame(p, guarded, frame, budget, io, decoded, pending, owes, taken);
            if (owes) {
                // Every frame answers the oldest request still owed; all of
                // them are this call's, so any is a reading of this call.
                const uint64_t now = line.NowMs();
                for (int i = 0; i < taken.frames; ++i) account.Answered(now, taken.checked);
                if (placed && taken.unfinished > 0) account.Received(taken.unfinished, n, now);
                else if (taken.unfinished > 0) account.Answered(now, false);  // a reply cut short
            }
            if (!took) continue;
            result = decoded.result;
            if (decoded.verdict == Verdict::kEndCycleClosed) {
                try {
                    session.Disconnect();
                } catch (...) {
                }
                return result;
            }
            if (decoded.verdict == Verdict::kEndCycle) break;
            if (decoded.verdict == Verdict::kAccept && p.stopOnSuccess) break;
        }
        session.ReleaseConnection();
        return result;
    } catch (...) {
        if (p.disconnectOnError) {
            try {
                session.Disconnect();
            } catch (...) {
            }
        }
        return kNoConnection;
    }
}

}  // namespace

void LineAccount::Forget() {
    count_ = 0;
    received_ = 0;
}

size_t LineAccount::Owed(uint64_t nowMs) {
    size_t kept = 0;
    for (size_t i = 0; i < count_; ++i) {
        if (nowMs >= due_[i]) {
            if (i == 0) received_ = 0;
            continue;
        }
        sent_[kept] = sent_[i];
        due_[kept++] = due_[i];
    }
    count_ = kept;
    return count_;
}

uint64_t LineAccount::OldestExpiryMs() const { return count_ > 0 ? due_[0] : 0; }

int LineAccount::OldestReceived() const { return count_ > 0 ? received_ : 0; }

void LineAccount::Sent(uint64_t nowMs) {
    if (count_ == kMaxOwed) Drop();
    sent_[count_] = nowMs;
    due_[count_++] = nowMs + static_cast<uint64_t>(kOwedReplyMs);
}

void LineAccount::Answered(uint64_t nowMs, bool checked) {
    if (count_ == 0) return;
    const uint64_t late = nowMs > sent_[0] ? nowMs - sent_[0] : 0;
    Drop();
    if (!checked) return;
    Sample(nowMs - late, nowMs);
    // The scale answers in order and, on this showing, this late: a later
    // request's reply is due as long after it, or never comes.
    const uint64_t bound = late + 100 + late / 4;
    for (size_t i = 0; i < count_; ++i)
        if (sent_[i] + bound < due_[i]) due_[i] = sent_[i] + bound;
}

void LineAccount::Received(int bytes, int length, uint64_t nowMs) {
    if (length <= 0) return;
    while (bytes > 0 && count_ > 0) {
        const int need = length - received_;
        if (bytes < need) {
            received_ += bytes;
            Started(nowMs);
            return;
        }
        bytes -= need;
        Answered(nowMs, false);
    }
}

void LineAccount::Started(uint64_t nowMs) {
    if (count_ > 0 && nowMs + kFrameRestMs < due_[0]) due_[0] = nowMs + kFrameRestMs;
}

void LineAccount::Drop() {
    if (count_ == 0) return;
    for (size_t i = 1; i < count_; ++i) {
        sent_[i - 1] = sent_[i];
        due_[i - 1] = due_[i];
    }
    --count_;
    received_ = 0;
}

void LineAccount::Sample(uint64_t sentMs, uint64_t nowMs) {
    const uint64_t d = nowMs > sentMs ? nowMs - sentMs : 0;
    late_[next_] = d > static_cast<uint64_t>(kOwedReplyMs) ? kOwedReplyMs : static_cast<int>(d);
    next_ = (next_ + 1) % kSamples;
    if (samples_ < kSamples) ++samples_;
}

int LineAccount::LateMs() const {
    int most = 0;
    for (int i = 0; i < samples_; ++i)
        if (late_[i] > most) most = late_[i];
    return most;
}

int LineAccount::WaitMs(int budgetMs) const {
    // Only a line that answers late regularly: the last kRegular delays
    // all within a quarter (and 100 ms) of each other. Noise that happens to
    // pass a frame's check now and then comes at any time.
    if (samples_ < kRegular) return budgetMs;
    int most = 0, least = kOwedReplyMs;
    for (int i = 1; i <= kRegular; ++i) {
        const int d = late_[(next_ + kSamples - i) % kSamples];
        if (d > most) most = d;
        if (d < least) least = d;
    }
    if (most - least > 100 + most / 4) return budgetMs;
    const int widened = most + 100 + most / 4;
    if (widened <= budgetMs) return budgetMs;
    return widened < kOwedReplyMs ? widened : kOwedReplyMs;
}

int32_t RunReadCycle(const PolledProtocol& p, IByteLine& line, IExchangeSession& session, Reading& io,
                     const CycleOptions& options) {
    const int32_t r = RunCycle(p, line, session, io, options);
    NoMinusZero(io);
    return r;
}

int32_t RunCommand(IByteLine& line, IExchangeSession& session, const CommandSpec& c) {
    try {
        int32_t r = session.EnsureConnected();
        if (r != 0) return r;
        const bool confirmed = c.replyLength > 0;
        if (confirmed) {
            // Only this command's reply may confirm it.
            std::vector<uint8_t> scratch(kCommandDrainBufferSize);
            Drain(line, scratch);
        }
        EchoGuard guarded(line, confirmed && !c.replyMayStartWithCommand);
        for (int i = 0; i < c.repeat; ++i) {
            if (c.bytes && c.length > 0) guarded.Write(c.bytes, c.length);
            if (c.pauseMs > 0) line.Sleep(c.pauseMs);
        }
        int32_t result = kOk;
        if (confirmed && !TakeCommandReply(c, guarded)) result = kNoAnswer;
        if (c.readAfter > 0) {
            std::vector<uint8_t> reply(static_cast<size_t>(c.readAfter));
            line.Read(reply.data(), c.readAfter);
        }
        if (c.drainAfter) {
            std::vector<uint8_t> scratch(kCommandDrainBufferSize);
            Drain(line, scratch);
        }
        session.ReleaseConnection();
        return result;
    } catch (...) {
        try {
            session.Disconnect();
        } catch (...) {
        }
        return kNoConnection;
    }
}

int32_t RunCommand(IByteLine& line, IExchangeSession& session, const uint8_t* bytes, int length, unsigned pauseMs) {
    CommandSpec command;
    command.bytes = bytes;
    command.length = length;
    command.pauseMs = pauseMs;
    return RunCommand(line, session, command);
}

int BuildPriceFrame(const PriceCommand& command, int32_t price, uint8_t (&out)[kMaxPriceFrame]) {
    if (price < 0 || price > kMaxPrice || !command.head || command.headLength < 0 ||
        command.headLength + 6 > kMaxPriceFrame)
        return 0;
    int n = 0;
    for (int i = 0; i < command.headLength; ++i) out[n++] = command.head[i];
    PriceDigits(price, command.asciiDigits, command.filler, out + n);
    return n + 6;
}

int32_t RunPriceCommand(IByteLine& line, IExchangeSession& session, const PriceCommand& price, int32_t value) {
    uint8_t frame[kMaxPriceFrame];
    const int n = BuildPriceFrame(price, value, frame);
    if (n == 0) return kBadPrice;
    CommandSpec command;
    command.bytes = frame;
    command.length = n;
    command.pauseMs = price.pauseMs;
    command.repeat = price.repeat;
    command.readAfter = price.readAfter;
    return RunCommand(line, session, command);
}

void PriceDigits(int32_t price, bool ascii, uint8_t filler, uint8_t out[6]) {
    uint32_t p = price < 0 ? 0u : static_cast<uint32_t>(price) % 100000u;
    for (int i = 0; i < 5; ++i) {
        uint8_t d = static_cast<uint8_t>(p % 10u);
        out[i] = ascii ? static_cast<uint8_t>('0' + d) : d;
        p /= 10u;
    }
    out[5] = filler;
}

void ReversedFieldText(const uint8_t* frame, size_t length, size_t offset, size_t k, char* out) {
    size_t w = 0;
    for (size_t i = k; i > 0; --i) {
        size_t at = offset + i - 1;
        if (at >= length) continue;
        out[w++] = static_cast<char>(frame[at]);
    }
    out[w] = '\0';
}

const char* RefusalText(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone: return "taken";
        case Refusal::kNoBytes: return "no bytes";
        case Refusal::kHeader: return "wrong first byte";
        case Refusal::kShort: return "too short for a frame";
        case Refusal::kTrailing: return "more bytes than one frame";
        case Refusal::kEcho: return "the request echoed back";
        case Refusal::kFormat: return "the frame check failed";
        case Refusal::kDecoder: return "the decoder made no reading of it";
    }
    return "?";
}

ReplyJudgement JudgeCollected(const PolledProtocol& p, uint8_t* frame, size_t length, Reading& io,
                              const std::function<bool()>& confirm) {
    ReplyJudgement j;
    j.length = length;
    if (!frame || length == 0 || !p.accepts || !p.decode) {
        j.reading = io;
        return j;
    }
    if (p.peek) p.peek(frame, length, io);
    j.refusal = CheckFrame(p, frame, length);
    if (j.refusal == Refusal::kNone && p.stream && p.stream->kinds && !p.stream->kinds(frame, length))
        j.refusal = Refusal::kFormat;
    if (j.refusal == Refusal::kNone && confirm && !confirm()) j.refusal = Refusal::kFormat;
    if (j.refusal == Refusal::kNone) {
        j.decoded = p.decode(frame, length, io);
        NoMinusZero(io);
        const int32_t r = j.decoded.result;
        if (r != kOk && r != kOverload && r != kNothingDone) j.refusal = Refusal::kDecoder;
    }
    j.reading = io;
    return j;
}

ReplyJudgement JudgeFrame(const PolledProtocol& p, const uint8_t* bytes, size_t count) {
    ReplyJudgement j;
    if (!bytes || count == 0 || !p.accepts || !p.decode) return j;
    if (HasHeader(p) && !IsHeader(p, bytes[0])) {
        j.refusal = Refusal::kHeader;
        return j;
    }
    const size_t n = static_cast<size_t>(p.replyLength < 1 ? 1 : p.replyLength > PolledProtocol::kMaxReply
                                                                     ? PolledProtocol::kMaxReply
                                                                     : p.replyLength);
    // N bytes that begin with the request and more bytes after them: the
    // engine takes the request out as an echo when as many bytes follow,
    // and trusts neither reading when fewer do.
    size_t skip = 0;
    if (count > n && MayBeEchoAhead(p, bytes, n)) {
        skip = static_cast<size_t>(p.requestLength);
        if (count < n + skip) {
            j.refusal = Refusal::kEcho;
            j.length = count;
            return j;
        }
    }
    const uint8_t* at = bytes + skip;
    const size_t rest = count - skip;
    // N bytes, or fewer where the end condition holds first.
    size_t length = rest >= n ? n : 0;
    if (p.complete) {
        length = rest < n ? rest : n;
        for (size_t k = 1; k <= length; ++k)
            if (p.complete(at, k)) {
                length = k;
                break;
            }
    }
    if (length == 0) {
        j.refusal = Refusal::kShort;
        return j;
    }
    // Decoders may read a zero byte past the frame, as in the engine's
    // zero-filled buffer.
    uint8_t frame[PolledProtocol::kMaxReply + 1] = {0};
    std::memcpy(frame, at, length);
    Reading io;
    InitOutputs(p.init, io);
    j = JudgeCollected(p, frame, length, io);
    j.length = skip + length;
    return j;
}

ReplyJudgement JudgeReply(const PolledProtocol& p, const uint8_t* bytes, size_t count) {
    ReplyJudgement j = JudgeFrame(p, bytes, count);
    if (j.length == 0) return j;
    for (size_t i = j.length; i < count; ++i)
        if (!p.complete || count - j.length > 2 || (bytes[i] != '\r' && bytes[i] != '\n')) {
            j.refusal = Refusal::kTrailing;
            break;
        }
    return j;
}

}  // namespace exchange
}  // namespace zel
