// A polled scale protocol as a constant description: what to send, what reply
// to collect and how long to wait for it, plus two pure functions that judge
// and decode a complete frame. The exchange engine (Exchange.h) runs the
// cycle; the decoders never touch the line. A description names only what
// differs from the defaults below:
//   const PolledProtocol kProtocol = {.request = kRequest, .requestLength = 1, .replyLength = 17,
//                                     .header = {0x02, 0}, .headerCount = 1, .policy = HeaderPolicy::kHunted,
//                                     .accepts = AcceptsFrame, .decode = DecodeFrame};
#pragma once

#include <cstddef>
#include <cstdint>

#include "scales/exchange/Fields.h"

namespace zel {
namespace exchange {

// What one weighing produced. The engine fills it in before the first
// attempt according to OutputInit, and a decoder overwrites what its frame
// carries.
struct Reading {
    double weight = 0.0;
    double price = 0.0;
    double cost = 0.0;
    int32_t stable = 0;
};

// How a wrong first byte is treated while waiting for the frame header.
enum class HeaderPolicy : uint8_t {
    kNone,    // no header: bytes go straight into the frame
    kStrict,  // a wrong byte is dropped and costs 50 ms of budget and a 50 ms pause
    kHunted,  // a wrong byte is dropped and costs 1 ms of budget, no pause; a
              // refused frame goes on from the next header byte it holds
};

enum class BudgetScope : uint8_t {
    kPerAttempt,  // every attempt gets the full budget
    kPerCall,     // one budget for the whole call; what is left carries over
};

// Outputs before the first attempt.
enum class OutputInit : uint8_t {
    kClearAll,           // weight, price, cost 0.0, stable 0
    kKeepValuesStable0,  // weight, price, cost as the caller passed them; stable 0
    kKeepValuesStable1,  // weight, price, cost as the caller passed them; stable 1
};

// What a decoder makes of an accepted frame: the result code and how the
// cycle goes on. A bare result code converts to a Decoded with kAccept.
enum class Verdict : uint8_t {
    kAccept,          // the result stands; the cycle ends here when it stops on success,
                      // else a later accepted frame overwrites it
    kRetry,           // the result stands unless a later attempt is accepted; next attempt
    kEndCycle,        // the result is final: no further attempt, the line is released
    kEndCycleClosed,  // the result is final: no further attempt, the line is closed, not released
};

struct Decoded {
    int32_t result;
    Verdict verdict;
    // Why a frame that passed the check makes no reading (a unit that cannot
    // be converted, a field that holds no number, an error mark): a constant
    // text for the tools, null when the result says it all.
    const char* why;
    constexpr Decoded(int32_t r, Verdict v = Verdict::kAccept, const char* w = nullptr)
        : result(r), verdict(v), why(w) {}
};

// A decoder's refusal of a frame it cannot read: no answer, and the next
// attempt goes on (a scale that sent dashes while settling may send a
// weight next).
constexpr Decoded Refuse(const char* why) { return Decoded(3, Verdict::kRetry, why); }

// True when a complete frame of `length` bytes is a valid reply.
using AcceptsFn = bool (*)(const uint8_t* frame, size_t length);
// Decodes an accepted frame into `out`.
using DecodeFn = Decoded (*)(const uint8_t* frame, size_t length, Reading& out);
// True when the `count` bytes collected so far end the frame.
using CompleteFn = bool (*)(const uint8_t* frame, size_t count);
// Sees every frame that is judged, before accepts and whether it passes or
// not, so a value can be taken even from a refused frame.
using PeekFn = void (*)(const uint8_t* frame, size_t count, Reading& out);

// What a continuously transmitting scale's stream adds to the check of one
// frame (the engine's hunted read, Stream.h). The hunt may land on a byte
// inside a frame that has a header's value; the window of N bytes from there
// is taken as a frame only where the stream confirms it.
struct StreamFraming {
    // The byte kinds every frame of the stream holds beyond what accepts
    // checks (a weight position holds a weight character): a window that
    // breaks them is no frame.
    AcceptsFn kinds = nullptr;
    // Where two alignments of the stream both pass every check, the window
    // this holds for and the other does not is taken; with none, or where
    // it cannot decide, neither is.
    AcceptsFn preferred = nullptr;
    // A silence of the line this long parts two frames.
    int gapMs = 10;
};

// Written with designated initializers; members left out take the values
// most protocols share.
struct PolledProtocol {
    static const int kMaxReply = 300;

    const uint8_t* request = nullptr;  // null with requestLength 0: nothing is sent
    int requestLength = 0;
    bool splitSend = false;            // first byte, 150 ms pause, then the rest
    // The scale may answer with a frame shorter than replyLength (a Modbus
    // exception): an unfinished header-less frame is then no sign that the
    // rest of it is still coming (see the engine's owed bytes).
    bool repliesMayBeShort = false;
    // True when a genuine reply may begin with what an echoing line hands
    // back ahead of it: the whole request, or for a split send its first
    // byte. Left false, an exact echo of the request before the reply is
    // skipped (a loopback plug, an RS-485 adapter hearing itself).
    bool replyMayStartWithRequest = false;
    int replyLength = 0;               // frame buffer size N, 1..kMaxReply
    // Without an end condition a frame is complete, and judged, at exactly N
    // bytes. With one, it is checked after every read that brought bytes and
    // stops the collection as soon as it holds; whatever was collected when
    // the collection stops (end condition, N bytes, budget spent) is judged,
    // if it is at least one byte.
    CompleteFn complete = nullptr;
    uint8_t header[2] = {0, 0};        // accepted first-byte values
    int headerCount = 0;               // 0, 1 or 2
    HeaderPolicy policy = HeaderPolicy::kNone;
    int budgetMs = 500;
    BudgetScope scope = BudgetScope::kPerAttempt;
    int attempts = 3;
    bool stopOnSuccess = true;         // false: every attempt runs, a later frame overwrites
    OutputInit init = OutputInit::kClearAll;
    bool disconnectOnError = true;     // an error raised in the exchange closes the line
    int drainBufferSize = 10240;       // scratch size of one drain read
    PeekFn peek = nullptr;
    AcceptsFn accepts = nullptr;
    DecodeFn decode = nullptr;
    // Continuous output (hunted policy with a header): a frame is taken only
    // where the stream's framing confirms it.
    const StreamFraming* stream = nullptr;
    // What each byte of the reply may hold. Its fixed fields are checked
    // before `accepts`; the field-walk test reads it.
    const FrameLayout* layout = nullptr;
};

}  // namespace exchange
}  // namespace zel
