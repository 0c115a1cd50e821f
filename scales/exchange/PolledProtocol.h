// A polled scale protocol as a constant description: what to send, what reply
// to collect and how long to wait for it, plus two pure functions that judge
// and decode a complete frame. The exchange engine (Exchange.h) runs the
// cycle; the decoders never touch the line.
#pragma once

#include <cstddef>
#include <cstdint>

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
    kHunted,  // a wrong byte is dropped and costs 1 ms of budget, no pause
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

// True when a complete frame of `length` bytes is a valid reply.
using AcceptsFn = bool (*)(const uint8_t* frame, size_t length);
// Decodes an accepted frame into `out`; returns the result code (0, 7, ...).
using DecodeFn = int32_t (*)(const uint8_t* frame, size_t length, Reading& out);

struct PolledProtocol {
    static const int kMaxReply = 32;

    const uint8_t* request;  // null with requestLength 0: nothing is sent
    int requestLength;
    bool splitSend;          // first byte, 150 ms pause, then the rest
    int replyLength;         // N, 1..kMaxReply
    uint8_t header[2];       // accepted first-byte values
    int headerCount;         // 0, 1 or 2
    HeaderPolicy policy;
    int budgetMs;            // 500 or 300
    BudgetScope scope;
    int attempts;
    bool stopOnSuccess;      // false: every attempt runs, a later frame overwrites
    OutputInit init;
    bool disconnectOnError;  // an error raised in the exchange closes the line
    int drainBufferSize;     // scratch size of one drain read
    AcceptsFn accepts;
    DecodeFn decode;
};

}  // namespace exchange
}  // namespace zel
