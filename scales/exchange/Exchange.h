// The polled exchange engine: the read cycle every request/reply and
// continuously transmitting scale shares, the command-only exchange behind
// Tare, Zero and SendPrice, and the small field helpers of the decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "scales/exchange/ByteLine.h"
#include "scales/exchange/PolledProtocol.h"

namespace zel {
namespace exchange {

// An empty read waits for input up to this long and costs that wait (all of
// it when nothing comes); a wrong header byte costs it too under the strict
// policy, and 1 under the hunted one.
const int kPollStepMs = 50;
const int kHuntedWrongByteMs = 1;
// Pause between the first request byte and the rest (split send), and after
// a command by default.
const unsigned kSplitPauseMs = 150;
const unsigned kCommandPauseMs = 150;
// A drain stops after this many bytes even if more keep coming, so a peer
// that floods the line cannot hold the caller forever.
const size_t kDrainLimit = 1u << 20;

// False for a description the engine cannot run (reply length outside
// 1..kMaxReply, no attempts, no budget, missing functions).
bool IsRunnable(const PolledProtocol& protocol);

// Runs the read cycle. `io` carries the caller's values in and the outputs
// out. Returns the decoder's result for an accepted frame (the last one
// unless a verdict ended the cycle), 3 when no frame was accepted, the
// non-zero code of EnsureConnected, or 1 when an error was raised inside the
// exchange.
// A reply is awaited at most this long after its request; a slow line's
// wait is widened up to this long too.
const int kOwedReplyMs = 3500;
// After a frame that answers one request, a second frame that starts within
// this quiet time is another scale answering the same request (a second
// indicator on the bus turns round within a few character times, and a
// converter or a busy host may hold its bytes back a little). Every reading
// waits this long after its last byte, so it is kept short.
const unsigned kCollisionWindowMs = 10;

// The replies a line still owes: one per request sent, until a frame comes
// for it or kOwedReplyMs pass. A scale answers its requests in order, so a
// frame belongs to the oldest request still owed; how late that frame came
// bounds the wait for the later ones (a request the scale missed is not
// awaited for long once a later one was answered). The scale object keeps one
// per line across calls; a new connection (TCP) forgets it, a serial port
// closed and opened again does not (a scale answers whether the port is open
// or not). Also learns how late the line answers, to widen its wait.
class LineAccount {
public:
    void Forget();

    // Requests whose reply is still owed (after forgetting the expired ones).
    size_t Owed(uint64_t nowMs);
    // When the oldest owed request stops being awaited.
    uint64_t OldestExpiryMs() const;
    // Bytes of the oldest owed reply that already came (header-less frames).
    int OldestReceived() const;

    void Sent(uint64_t nowMs);
    // A frame came: it answers the oldest owed request. `checked`: the frame
    // passed the protocol's check, so how late it came is the line's delay
    // (noise that happens to fill a frame teaches nothing).
    void Answered(uint64_t nowMs, bool checked);
    // `bytes` of header-less replies of `length` bytes came, oldest first
    // (unchecked: their delay teaches nothing).
    void Received(int bytes, int length, uint64_t nowMs);
    // Part of the oldest owed reply came: the rest follows at the line's
    // pace or never (a frame cut short), so it is awaited kFrameRestMs more.
    void Started(uint64_t nowMs);

    // The wait for a reply: the protocol's budget, widened for a line whose
    // recent replies came regularly later than that, at most kOwedReplyMs.
    int WaitMs(int budgetMs) const;
    // The longest of the recent delays, 0 when none was seen.
    int LateMs() const;

private:
    static const size_t kMaxOwed = 16;
    static const int kFrameRestMs = 500;
    static const int kSamples = 4;
    static const int kRegular = 3;  // delays that must agree to widen the wait
    void Drop();
    void Sample(uint64_t sentMs, uint64_t nowMs);

    uint64_t sent_[kMaxOwed] = {};
    uint64_t due_[kMaxOwed] = {};  // when each stops being awaited
    int received_ = 0;  // of the oldest
    size_t count_ = 0;
    int late_[kSamples] = {};
    int samples_ = 0, next_ = 0;
};

// Per-device choices that are not part of a protocol.
struct CycleOptions {
    // A split send sleeps its whole pause even when the scale answers the
    // first byte at once (for a scale that would need it).
    bool fixedSplitPause = false;
    // The line's account, kept by the caller across calls; null: one for
    // this call alone.
    LineAccount* account = nullptr;
};

int32_t RunReadCycle(const PolledProtocol& protocol, IByteLine& line, IExchangeSession& session, Reading& io,
                     const CycleOptions& options = CycleOptions());

// Why one reply was not taken as a reading.
enum class Refusal : uint8_t {
    kNone,        // taken: accepted, and decoded into a reading
    kNoBytes,     // nothing came
    kHeader,      // its first byte is none of the protocol's header values
    kShort,       // fewer bytes than a frame, and no end condition held
    kTrailing,    // more bytes after the frame (only CR, LF may follow a frame that ends itself)
    kEcho,        // the request itself, handed back by the line
    kFormat,      // the frame check refused it (markers, digits, check value)
    kDecoder,     // accepted, but the decoder made no reading of it (its result says why)
};
// "taken", "no bytes", "wrong first byte", ... for messages.
const char* RefusalText(Refusal refusal);

struct ReplyJudgement {
    Refusal refusal = Refusal::kNoBytes;
    // The bytes the judgement took: the frame, and an echo of the request
    // ahead of it where the engine would have taken that out by its count.
    size_t length = 0;
    Decoded decoded = Decoded(0);  // the decoder's result, when it ran
    Reading reading;
};

// The one judgement of a frame the engine collected: `length` bytes at the
// start of `frame`, a buffer of kMaxReply + 1 bytes zero after the frame.
// In this order: the protocol's peek (it sees every frame, refused or not);
// not the request handed back; the layout's fixed fields; the protocol's
// frame check; a stream's byte kinds; `confirm`, where given (a stream's
// alignment, which may read on); the decoder, into `io`; its result taken as
// a reading only for a success, an overload or a state the scale reports
// (1099), kDecoder otherwise; no minus zero in the outputs. The decoder's
// verdict is in `decoded` whenever it ran (refusal kNone or kDecoder), and
// `reading` is `io` as the judgement left it.
ReplyJudgement JudgeCollected(const PolledProtocol& protocol, uint8_t* frame, size_t length, Reading& io,
                              const std::function<bool()>& confirm = nullptr);

// The frame at the start of `bytes`, framed as the read cycle collects it
// (its first byte a header, where the protocol hunts or waits for one; N
// bytes, or up to its end condition; an echo of the request ahead of a
// reply that may begin with it taken out by its count) and judged by
// JudgeCollected from the outputs the cycle starts with. What follows the
// frame is not looked at. For tools that hold bytes they did not collect
// through a device (detect, decode, monitor).
ReplyJudgement JudgeFrame(const PolledProtocol& protocol, const uint8_t* bytes, size_t count);
// One reply to a request: one such frame and nothing after it (only CR, LF
// after a frame that ends itself).
ReplyJudgement JudgeReply(const PolledProtocol& protocol, const uint8_t* bytes, size_t count);

// A command-only exchange (tare, zero, price): the bytes are written and
// followed by a pause, `repeat` times; then optionally one read of up to
// readAfter bytes, discarded, and a drain of what is pending.
//
// A command the scale answers is confirmed: the line is drained before the
// write, and after the pause a reply of replyLength bytes is collected within
// replyBudgetMs (spent as in the read cycle, only on waiting) and must pass
// `confirms`. Unless the reply may begin with the command itself, an exact
// echo of the command ahead of the reply is skipped.
struct CommandSpec {
    const uint8_t* bytes = nullptr;
    int length = 0;
    unsigned pauseMs = kCommandPauseMs;  // 0: no pause
    int repeat = 1;
    int readAfter = 0;
    bool drainAfter = false;
    int replyLength = 0;  // 0: no reply is read; at most PolledProtocol::kMaxReply
    int replyBudgetMs = 500;
    AcceptsFn confirms = nullptr;  // null: any reply of replyLength bytes
    bool replyMayStartWithCommand = false;
    // A byte the scale takes in any value (its address), -1 for none: tools
    // that must never send the command guard against every value there.
    int anyValueAt = -1;
};

// A unit price sent as a fixed head, the five lowest digits of the price in
// hundredths (least significant first, as digit values or characters) and a
// filler byte; written `repeat` times with `pauseMs` after each, then
// optionally one read of up to `readAfter` bytes that are thrown away.
struct PriceCommand {
    const uint8_t* head = nullptr;
    int headLength = 0;
    bool asciiDigits = false;
    uint8_t filler = 0x00;
    unsigned pauseMs = 0;
    int repeat = 1;
    int readAfter = 0;
};
// The highest price a price frame carries: five digits of hundredths.
const int32_t kMaxPrice = 99999;
const int kMaxPriceFrame = 16;
// The frame for `price` (0..kMaxPrice) into `out`; its length, 0 for a price
// the frame cannot carry (its dropped digits would set another price).
int BuildPriceFrame(const PriceCommand& command, int32_t price, uint8_t (&out)[kMaxPriceFrame]);

// Connects, runs the command, releases; 0, the connect code, 3 when a reply
// the command expects did not come or was wrong, or 1 when an error was
// raised (the line is then closed). A failed write the line absorbs still
// gives 0 when the command reads no reply.
int32_t RunCommand(IByteLine& line, IExchangeSession& session, const CommandSpec& command);
// The simple case: write once, pause.
int32_t RunCommand(IByteLine& line, IExchangeSession& session, const uint8_t* bytes, int length,
                   unsigned pauseMs = kCommandPauseMs);

// Sends the price as RunCommand sends a command; a price the frame cannot
// carry gives kBadPrice, and nothing is connected or written.
int32_t RunPriceCommand(IByteLine& line, IExchangeSession& session, const PriceCommand& command, int32_t price);

// The five lowest decimal digits of a price in hundredths, least significant
// first (the price is taken modulo 100000), as values 0..9 or as ASCII
// characters, and the filler byte in the sixth place. A negative price sends
// zeros.
void PriceDigits(int32_t price, bool ascii, uint8_t filler, uint8_t out[6]);

// The text of a field sent least significant digit first: bytes
// offset+k-1 down to offset, then a terminating zero. `out` holds k+1 bytes.
// Positions beyond `length` are skipped, never read.
void ReversedFieldText(const uint8_t* frame, size_t length, size_t offset, size_t k, char* out);

}  // namespace exchange
}  // namespace zel
