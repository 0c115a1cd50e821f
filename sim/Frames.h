// What a simulated scale shows, its frames, and the recogniser for what a
// driver sends to it. Pure functions over bytes: no I/O, no clocks. The
// per-model facts live in the descriptors of sim/Models.h.
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
    int decimals = 3;     // 0..4; formats that carry fewer use at most theirs
    bool negative = false;  // show the minus sign whatever the weight's sign
    bool zeroed = false;    // a zero command (or a tare that zeroes) was applied
    std::string text;       // free text some formats carry (a scanned code)
};

// True when the display shows a minus sign: a weight below zero, or the
// sign forced with `negative`.
bool ShowsMinus(const Display& d);

// Decimals clamped to [0, max] (max at most 4).
int ClampDecimals(int decimals, int max = 3);
// 10^decimals for decimals 0..4 (clamped).
double Pow10(int decimals);

// Thin helpers over the model's descriptor (sim/Models.h).
// The frame the model sends for this display; empty for an unknown model.
std::string EncodeFrame(int model, const Display& d);

// The same frame with one marker byte wrong (or one byte short where the
// format has no markers, or the model's descriptor says nothing).
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
    // Request: the read request a polled scale answers with its frame.
    // Command: any other recognised message (answered or not, see the
    // model's descriptor).
    enum Kind { Request, Ack, Tare, Zero, Price, Command, Unknown };
    struct Message {
        Kind kind;
        std::string bytes;
        long long value;  // the pattern's digits (see Pattern), else 0
    };

    // Pattern element: a fixed byte; a packed-decimal byte (two nibbles 0-9,
    // most significant first); a digit value 0-9 or an ASCII digit '0'-'9'
    // (both least significant first); any byte at all.
    enum ElemType { Exact, PackedBcd, DigitValue, AsciiDigit, AnyByte };
    struct Elem {
        ElemType type;
        uint8_t byte;
    };
    struct Pattern {
        Kind kind;
        std::vector<Elem> elems;
        // The message's value from its bytes; null: the digits as above.
        long long (*value)(const std::string& bytes) = nullptr;
    };

    // The patterns of the model's descriptor; none for an unknown model.
    explicit CommandMatcher(int model);
    explicit CommandMatcher(std::vector<Pattern> patterns);

    // Feeds one byte; appends any finished messages to `out`.
    void Feed(uint8_t byte, std::vector<Message>* out);
    // Hands out the pending Unknown run (and, when `partialToo`, a started
    // but unfinished message as Unknown).
    void Flush(std::vector<Message>* out, bool partialToo);
    bool HasJunk() const { return !junk_.empty(); }
    bool HasPartial() const { return !pending_.empty(); }
    // The started but unfinished message's bytes.
    const std::string& Partial() const { return pending_; }
    // True when the unfinished message could still become one of kind `k`.
    bool PartialCouldBe(Kind k) const;

private:
    bool IsPrefix(const std::string& bytes, bool* complete, const Pattern** which) const;
    static long long ValueOf(const Pattern& p, const std::string& bytes);

    std::vector<Pattern> patterns_;
    std::string pending_;
    std::string junk_;
};

}  // namespace sim
