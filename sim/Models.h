// The simulated models: one descriptor per model, collected from the family
// files in sim/models/. Everything the simulator knows about a model is in
// its descriptor; Simulator and CommandMatcher only read descriptors.
//
// Adding a model, in its family's file only (sim/models/<family>.cpp):
//   1. an encoder `std::string Frame(const Display&)` writing the frame from
//      the display (weight is signed: use ShowsMinus for the sign; clamp
//      decimals to what the format carries with ClampDecimals);
//   2. if the format has a marker byte, `std::string Broken(const
//      std::string&)` spoiling it (WithByte); otherwise leave brk null;
//   3. in the family's Add...Models: a SimModel with model, name, line,
//      mode, header, encode, brk; patterns for the read request (Request,
//      polled models only) and each command (BytesPattern, AddElems); an
//      effect (StandardEffect or the family's own) and an answer
//      (EchoAnswer or the family's own) when commands need them;
//      out.push_back(it).
// sim/models/cas.cpp, vn220.cpp and vta60.cpp are worked examples. The
// registry test (sim/tests/sim_models_test.cpp) checks every descriptor.
#pragma once

#include <string>
#include <vector>

#include "sim/Frames.h"

namespace sim {

struct SimModel {
    // Polled: answers each recognised Request with its frame.
    // Pushes: sends its frame when told (PushReading, SetPushPeriodMs).
    // Streams: sends its frame over and over while a client holds the line,
    //          Simulator::SetStreamGapMs apart.
    enum Mode { Polled, Pushes, Streams };

    int model = -1;
    const char* name = "";  // short caption for help and logs, e.g. "CAS"
    const char* line = "8N1";  // the scale's serial settings: "8N1", "8E1", "8E2"
    Mode mode = Polled;
    int header = -1;  // first byte of every frame, -1 none; Garbage never sends it
    // Bytes Garbage never sends besides the header (frame starts of formats
    // with several, e.g. "+-").
    std::string noGarbage;

    // The frame for what the scale shows. Required.
    std::string (*encode)(const Display& d) = nullptr;
    // The frame with one marker byte wrong; null: the frame one byte short.
    std::string (*brk)(const std::string& frame) = nullptr;

    // What the scale recognises from the driver; bytes matching none are
    // recorded as Unknown.
    std::vector<CommandMatcher::Pattern> patterns;
    // Applied to the display when a recognised message other than Request
    // arrives, before it is recorded; null: no effect.
    void (*effect)(const CommandMatcher::Message& m, Display& d) = nullptr;
    // The bytes sent back for a recognised message other than Request
    // (e.g. a Modbus write is echoed); null or "": nothing is sent.
    std::string (*answer)(const CommandMatcher::Message& m, const Display& d) = nullptr;
};

// The descriptor of `model`, or null when the simulator does not speak it.
const SimModel* FindSimModel(int model);
// Every descriptor, in the order the families add them.
const std::vector<SimModel>& AllSimModels();

// --- building blocks for family files ---------------------------------

// A pattern of fixed bytes.
CommandMatcher::Pattern BytesPattern(CommandMatcher::Kind kind, const std::string& bytes);
// Appends `count` elements of `type` (then optional fixed `tail` bytes).
CommandMatcher::Pattern& AddElems(CommandMatcher::Pattern& p, CommandMatcher::ElemType type, int count,
                                  const std::string& tail = std::string());

// Common effects.
// Tare with a value in the display's units: value / 10^decimals (a format
// that carries fewer decimals than the display may show clamps them first).
void TareFromValue(const CommandMatcher::Message& m, Display& d);
// Price with a value in hundredths.
void PriceFromHundredths(const CommandMatcher::Message& m, Display& d);
// Tare takes the weight on the pan as the tare (weight shows 0); Zero shows
// 0; Price in hundredths. For scales whose commands carry no tare value.
void StandardEffect(const CommandMatcher::Message& m, Display& d);
// Answer: the message itself (Modbus writes).
std::string EchoAnswer(const CommandMatcher::Message& m, const Display& d);

// round(value x 10^decimals) clamped to [lo, hi]; 0 for NaN.
long long ScaledSigned(double value, int decimals, long long lo, long long hi);
// Appends the low `bytes` bytes of v, least / most significant first.
void PutLe(std::string* s, unsigned long long v, int bytes);
void PutBe(std::string* s, unsigned long long v, int bytes);
// `value` with `decimals` decimals right-aligned in exactly `width`
// characters, dropping decimals when it would not fit; "" when even the
// integer does not fit.
std::string FitFixed(double value, int width, int decimals);
// As FitFixed, but a value that does not fit is clamped to the widest one
// the field holds (all nines, with a minus when negative).
std::string TextField(double value, int width, int decimals);
// Copies with byte `offset` set to `value` (no change past the end).
std::string WithByte(const std::string& frame, size_t offset, char value);

}  // namespace sim
