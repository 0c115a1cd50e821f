// An event-driven scale protocol as a constant description, beside its family
// (vn220::kVn220Protocol, vnaci::kVnaCiProtocol, ...): how a read collects a
// frame, how a frame is judged, how a reading becomes the data line and the
// window message, and the commands the listener writes. One engine
// (CEventProtocolScale) runs any of them; ReadEventFrames frames a byte run
// the way that engine reads it, for tools that look at recorded bytes. Both
// judge through the description's `judge`, so they cannot disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scales/exchange/Commands.h"
#include "scales/listener/ListenerScale.h"

namespace zel {
namespace listener {

// What the listener makes of the bytes one read brought.
enum class EventVerdict : uint8_t {
    kReading,     // a reading: published (after the coefficient), then the pause
    kWithheld,    // a good frame that is not published (a weight frame whose tare
                  // extension never came); the pause
    kIncomplete,  // too few bytes, or no frame at all: the pause, then fresh bytes
    kResync,      // markers wrong: the next read goes on at once from where the
                  // description's `nextStart` finds a frame may begin
    kDropped,     // refused whole: the next read at once, from fresh bytes
    kNoNumber,    // in its place, but a field holds no number: one line in the
                  // general log with `why`, then the next read (`noNumberPauses`)
};

const char* VerdictName(EventVerdict verdict);

// A frame's values as the scale sent them, before the device coefficient:
// the weight (and tare) in the unit of the model's row, price and cost in
// currency units, and the frame's text (model 6: the scanned code; model 15:
// the data line itself).
struct EventReading {
    double weight = 0.0;
    double tare = 0.0;
    double price = 0.0;
    double cost = 0.0;
    std::string text;
};

struct EventJudgement {
    EventVerdict verdict = EventVerdict::kIncomplete;
    EventReading reading;      // kReading and kWithheld
    bool acknowledge = false;  // the frame asks for the acknowledgement (AckRule::kByFrame)
    const char* why = nullptr; // why there is no reading (and why a good frame is withheld), constant text
};

// `count` bytes of one read; `frame` has room for the description's length.
using JudgeFn = EventJudgement (*)(const uint8_t* frame, int count);
// Offset (1..count) of the first of `count` held bytes of a refused frame
// where another frame may begin; count when none can.
using NextStartFn = int (*)(const uint8_t* frame, int count);

// What the platform receives for a reading whose weight and tare carry the
// coefficient already.
struct EventOutput {
    std::string line;
    uint32_t wParam = 0;
    uint32_t lParam = 0;
};
using FormatFn = EventOutput (*)(const EventReading& reading, const char* deviceId);

enum class FrameRead : uint8_t {
    kFixed,       // each attempt asks for the bytes still missing of `length`
    kStartToEnd,  // byte by byte: bytes before `start` are dropped (each one a
                  // pause of `droppedByteMs` off the budget), then up to `end`,
                  // at most `length` bytes
};

// When a flagged command goes out.
enum class CommandTime : uint8_t {
    kBeforeCycle,  // once per cycle, before its frame is read
    kBeforeRead,   // before each read attempt, so within one attempt of its flag
};

// One command the listener writes when it is pending.
struct EventCommand {
    const char* what = "";
    CommandTime when = CommandTime::kBeforeCycle;
    // Its bytes from the pending value and the device coefficient; the count.
    int (*build)(int32_t value, double coeff, uint8_t* out) = nullptr;
    int repeats = 1;
    unsigned repeatPauseMs = 0;                   // between two writes
    unsigned pauseMs = exchange::kCommandPauseMs; // after the last
};
const int kMaxEventCommand = 16;  // bytes of the longest command
const int kMaxEventCommands = 4;

// What the platform's Tare does.
enum class TareRule : uint8_t {
    kNotSupported,  // answers 5
    kFlag,          // flags `tareCommand`; the value is ignored
    kAsPrice,       // SendPrice with trunc(tare x 1000): the tare in grams
};

// How the acknowledgement command (`ackCommand`) gets flagged.
enum class AckRule : uint8_t {
    kNone,
    kAfterReading,  // after each published reading, as a SendPrice would
    kByFrame,       // a good frame sets it to its `acknowledge`
};

struct EventProtocol {
    const char* name = "";
    FrameRead read = FrameRead::kFixed;
    int length = 0;  // kFixed: bytes a read asks for; kStartToEnd: bytes held at most
    uint8_t start = 0, end = 0;        // kStartToEnd
    unsigned droppedByteMs = kReadStepMs;
    NextStartFn nextStart = nullptr;   // null: a refused frame keeps nothing
    JudgeFn judge = nullptr;
    bool noNumberPauses = false;       // kNoNumber: the pause (true) or the next read at once
    // Reading to the platform: the coefficient on weight and tare (false: the
    // scale's own text goes on unchanged), the window message after the event.
    FormatFn format = nullptr;
    bool scaled = true;
    bool broadcast = true;
    const EventLine* line = nullptr;   // the fields of `format`'s line
    // Commands, in the order they go out when several are pending.
    const EventCommand* commands = nullptr;
    int commandCount = 0;
    int ackCommand = -1;
    AckRule ack = AckRule::kNone;
    // SendPrice flags `priceCommand` with its value (-1: answers `noPriceResult`,
    // no effect); a value above `maxPrice` (taken as unsigned; -1: no bound)
    // answers kBadPrice and changes nothing.
    int priceCommand = -1;
    int32_t noPriceResult = 0;
    int64_t maxPrice = -1;
    TareRule tare = TareRule::kNotSupported;
    int tareCommand = -1;
    // The command patterns tools guard against (CommandsOf); null: none.
    exchange::CommandList (*patterns)() = nullptr;
};

// One frame ReadEventFrames found: bytes [start, end) and their judgement.
struct EventFrame {
    size_t start, end;
    EventJudgement judgement;
};

// The frames the listener would read from these bytes, in order: each read
// asks for what the description says; a read that holds bytes ends early at
// a burst edge (an offset in `bursts`, sorted: bytes came again after a
// silence, and the read's budget ran out there); a refused frame resyncs as
// the listener does. A byte-by-byte read's dropped bytes cost its budget as
// they do on the line; a read that drops bytes and holds none is not listed.
// Judgements carry the readings before the coefficient.
std::vector<EventFrame> ReadEventFrames(const EventProtocol& protocol, const uint8_t* bytes, size_t count,
                                        const std::vector<size_t>& bursts = {});

// Reads one start-to-end frame byte by byte against `clock` (see
// FrameRead::kStartToEnd) into `frame` (room for `capacity`; at most
// `length` bytes are used, those cleared first) and returns the count held.
// A read that brings nothing waits as WaitForFrameBytes does; `end` ends the
// read at once; `stop`, asked after every other attempt, ends it when true.
int ReadStartToEnd(exchange::IByteLine& line, const EventProtocol& protocol, uint8_t* frame, int capacity,
                   ReadClock& clock, const std::function<bool()>& stop);

}  // namespace listener
}  // namespace zel
