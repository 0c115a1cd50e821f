#include "scales/exchange/Stream.h"

#include <cstring>

#include "scales/exchange/Exchange.h"

namespace zel {
namespace exchange {

namespace {

// A window and as much of the stream after it as the other alignments
// inside it need.
const int kHeld = 2 * PolledProtocol::kMaxReply + 1;

bool IsHeader(const PolledProtocol& p, uint8_t b) {
    for (int i = 0; i < p.headerCount && i < 2; ++i)
        if (p.header[i] == b) return true;
    return false;
}

bool Passes(const PolledProtocol& p, const uint8_t* window) {
    const size_t n = static_cast<size_t>(p.replyLength);
    return (!p.layout || FixedFieldsHold(*p.layout, window, n)) && p.accepts(window, n) &&
           (!p.stream->kinds || p.stream->kinds(window, n));
}

enum class Filled { kYes, kSilence, kNoBudget };

// The bytes held from the stream, each with the silence of the line seen
// before it arrived (0 when it came with the bytes before it).
class Held {
public:
    Held(IByteLine& line, int& budget) : line_(line), budget_(budget) {}

    int size() const { return size_; }
    const uint8_t* at(int i) const { return bytes_ + i; }
    uint8_t operator[](int i) const { return bytes_[i]; }
    uint32_t SilenceBefore(int i) const { return silence_[i]; }
    // The longest silence between the bytes i+1 .. i+n-1.
    uint32_t SilenceWithin(int i, int n) const {
        uint32_t most = 0;
        for (int j = i + 1; j < i + n && j < size_; ++j)
            if (silence_[j] > most) most = silence_[j];
        return most;
    }

    void Push(uint8_t b) {
        if (size_ >= kHeld) return;
        bytes_[size_] = b;
        silence_[size_++] = 0;
    }

    // Drops the first n bytes, each at the cost of a wrong header byte.
    void Drop(int n) {
        if (n > size_) n = size_;
        size_ -= n;
        std::memmove(bytes_, bytes_ + n, static_cast<size_t>(size_));
        std::memmove(silence_, silence_ + n, static_cast<size_t>(size_) * sizeof(silence_[0]));
        budget_ -= n * kHuntedWrongByteMs;
    }

    // Reads until `want` bytes are held. With `silenceMs`, stops as soon as
    // the line has been silent that long.
    Filled Fill(int want, uint32_t silenceMs = 0) {
        if (want > kHeld) want = kHeld;
        while (size_ < want) {
            if (budget_ <= 0) return Filled::kNoBudget;
            const int got = line_.Read(bytes_ + size_, want - size_);
            const uint64_t now = line_.NowMs();
            if (got > 0) {
                const int taken = got < want - size_ ? got : want - size_;
                silence_[size_] = quiet_ ? Ms(now - quietFrom_) : 0;
                for (int i = 1; i < taken; ++i) silence_[size_ + i] = 0;
                size_ += taken;
                quiet_ = false;
                continue;
            }
            if (!quiet_) {
                quiet_ = true;
                quietFrom_ = now;
            }
            const uint32_t silent = Ms(now - quietFrom_);
            if (silenceMs > 0 && silent >= silenceMs) return Filled::kSilence;
            unsigned step = kPollStepMs;
            if (silenceMs > 0 && silenceMs - silent < step) step = silenceMs - silent;
            budget_ -= Wait(step);
        }
        return Filled::kYes;
    }

private:
    static uint32_t Ms(uint64_t d) { return d > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(d); }

    // Waits for input up to ms; the budget it costs: all of it when nothing
    // came, else the time really waited (at least 1 ms).
    int Wait(unsigned ms) {
        const uint64_t start = line_.NowMs();
        if (!line_.WaitForInput(ms)) return static_cast<int>(ms);
        const uint64_t now = line_.NowMs();
        const uint64_t took = now > start ? now - start : 0;
        if (took < 1) return 1;
        return took < ms ? static_cast<int>(took) : static_cast<int>(ms);
    }

    IByteLine& line_;
    int& budget_;
    uint8_t bytes_[kHeld];
    uint32_t silence_[kHeld];
    int size_ = 0;
    bool quiet_ = false;
    uint64_t quietFrom_ = 0;
};

// Whether the window of N bytes at the start of `held` (which passes its
// checks) is a frame of the stream; reads what follows it as far as needed.
bool Confirmed(const PolledProtocol& p, Held& held) {
    const int n = p.replyLength;
    const StreamFraming& s = *p.stream;
    const uint32_t gap = s.gapMs > 0 ? static_cast<uint32_t>(s.gapMs) : 1u;

    // Any other alignment starts at a header-valued byte inside the window.
    int others[PolledProtocol::kMaxReply];
    int count = 0;
    for (int k = 1; k < n; ++k)
        if (IsHeader(p, held[k])) others[count++] = k;
    if (count == 0) return true;

    // A silence inside the window longer than the one before it: the window
    // spans the pause between two frames, unless a longer one follows it.
    const uint32_t within = held.SilenceWithin(0, n);
    const bool spans = within >= gap && held.SilenceBefore(0) <= within;
    const uint32_t parting = within >= gap ? within + 1 : gap;
    const Filled next = held.Fill(n + 1, parting);
    if (next == Filled::kNoBudget) return false;
    // The line falls silent after the window: no frame runs on from inside it.
    if (next == Filled::kSilence || held.SilenceBefore(n) >= parting) return true;
    if (spans) return false;

    // The alignments inside the window, on the bytes that follow it.
    bool rival = false, rivalPreferred = false;
    for (int i = 0; i < count; ++i) {
        const int k = others[i];
        const uint32_t before = held.SilenceBefore(k);
        const Filled f = held.Fill(k + n, before >= gap ? before + 1 : gap);
        if (f == Filled::kNoBudget) return false;
        if (f == Filled::kSilence) continue;  // the stream pauses inside it
        const uint32_t inside = held.SilenceWithin(k, n);
        if (inside >= gap && before <= inside) continue;
        if (!Passes(p, held.at(k))) continue;
        rival = true;
        if (s.preferred && s.preferred(held.at(k), static_cast<size_t>(n))) rivalPreferred = true;
    }
    if (!rival) return true;
    return s.preferred && s.preferred(held.at(0), static_cast<size_t>(n)) && !rivalPreferred;
}

}  // namespace

bool TakeStreamFrame(const PolledProtocol& p, IByteLine& line, uint8_t* frame, int& budget, Reading& io,
                     Decoded& decoded, int pending) {
    const int n = p.replyLength;
    Held held(line, budget);
    if (pending >= 0) held.Push(static_cast<uint8_t>(pending));
    for (;;) {
        int wrong = 0;
        while (wrong < held.size() && !IsHeader(p, held[wrong])) ++wrong;
        held.Drop(wrong);
        if (held.Fill(held.size() == 0 ? 1 : n) != Filled::kYes) return false;
        if (held.size() < n || !IsHeader(p, held[0])) continue;
        std::memcpy(frame, held.at(0), static_cast<size_t>(n));
        // The window is judged as any collected frame is, and taken only
        // where the stream confirms its alignment.
        const ReplyJudgement j =
            JudgeCollected(p, frame, static_cast<size_t>(n), io, [&] { return Confirmed(p, held); });
        if (j.refusal == Refusal::kNone || j.refusal == Refusal::kDecoder) {
            decoded = j.decoded;
            return true;
        }
        held.Drop(1);
    }
}

}  // namespace exchange
}  // namespace zel
