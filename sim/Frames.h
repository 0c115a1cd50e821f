// The simulated scales' frames and the recogniser for what a driver sends to
// them. Pure functions over bytes: no I/O, no clocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// What the scale shows.
struct Display {
    double weight = 0.0;  // kg
    double tare = 0.0;    // kg
    double price = 0.0;   // currency per kg
    double cost = 0.0;    // currency
    bool stable = true;
    bool overload = false;
    int decimals = 3;     // 0..3
};

// The frame the model sends for this display; empty for an unknown model.
std::string EncodeFrame(int model, const Display& d);

// The same frame with one marker byte wrong (or one byte short where the
// format has no markers).
std::string BreakFrame(int model, const std::string& frame);

// The first byte of the model's frames, or -1 when frames have no fixed one.
int FrameHeader(int model);

// round(|value| x 10^decimals), clamped to [0, max]; 0 for NaN.
long long ScaledMagnitude(double value, int decimals, long long max);

// Recognises requests and commands in the bytes a driver sends, one byte at
// a time. Bytes that cannot start or continue any of the model's messages
// are collected as an Unknown run, handed out before the next recognised
// message or by Flush().
class CommandMatcher {
public:
    enum Kind { Request, Ack, Tare, Price, Unknown };
    struct Message {
        Kind kind;
        std::string bytes;
        long long value;  // Tare (32): the six digits; Price (22): hundredths
    };

    explicit CommandMatcher(int model);

    // Feeds one byte; appends any finished messages to `out`.
    void Feed(uint8_t byte, std::vector<Message>* out);
    // Hands out the pending Unknown run (and, when `partialToo`, a started
    // but unfinished message as Unknown).
    void Flush(std::vector<Message>* out, bool partialToo);
    bool HasJunk() const { return !junk_.empty(); }
    bool HasPartial() const { return !pending_.empty(); }

    // Pattern element: a fixed byte, a packed-decimal byte (two nibbles
    // 0-9) or a digit value 0-9.
    enum ElemType { Exact, PackedBcd, DigitValue };
    struct Elem {
        ElemType type;
        uint8_t byte;
    };
    struct Pattern {
        Kind kind;
        std::vector<Elem> elems;
    };

private:
    bool IsPrefix(const std::string& bytes, bool* complete, const Pattern** which) const;
    static long long ValueOf(const Pattern& p, const std::string& bytes);

    std::vector<Pattern> patterns_;
    std::string pending_;
    std::string junk_;
};

}  // namespace sim
