// `zelscales detect`: the scan as data. What the scan sends and listens for
// (the plan), the command table it must never spell, and the judging of what
// comes back, all without touching a line; tools/detect.cpp runs the plan on
// a port.
//
// The plan: listen silently at every speed first (scales that talk all the
// time or push readings name themselves by their frames), then send the read
// request of every polled model, once per distinct request, line framing and
// speed, and let every model that uses that request judge the reply with the
// driver's own accepts/decode functions. When several models accept the same
// reply they are reported as a group. Last, a long window per speed and
// framing of a scale that sends on a key press, for the operator to press.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scales/Line.h"
#include "scales/exchange/Exchange.h"
#include "scales/exchange/PolledProtocol.h"

namespace zelscales {
namespace detect {

// The speeds scanned when none are given, most common first.
const std::vector<int>& DefaultBauds();

// Windows of the scan.
const int kListenMs = 1000;   // silent listening per speed and framing
// How long after its request a scale may take to begin its reply: a serial
// indicator answers within tens of milliseconds, a network converter adds
// its round trip. With no byte by then the probe ends.
const int kFirstByteMs = 150;
const int kFirstByteTcpMs = 300;
// The split send's pause is the read cycle's.
const int kSplitPauseMs = static_cast<int>(zel::exchange::kSplitPauseMs);
const int kSetupMs = 100;     // per change of speed or framing
const int kOpenMs = 500;      // opening a serial port
const int kConnectMs = 3000;  // connecting over TCP (the socket's own limit)
// A find takes two replies: after the first, the request goes out again, up
// to kConfirmTries times, until a second reply is accepted by the same
// models. A scan spends at most kConfirmSends such sends in all, and a
// scale that pushes readings gets one more listening window, once per scan,
// for its second reading.
const int kConfirmTries = 2;
const int kConfirmSends = 6;
// A scale that sends on a key press is named by two presses, which an
// operator makes 2 to 5 s apart. Once the requests are out, each speed and
// framing such a scale uses gets one window that holds a press whenever the
// operator keeps pressing, and the scan's second window (for a scale heard
// once) lasts until the longest gap after the last byte heard.
const int kPressGapMs = 5000;
const int kPressSlackMs = 500;  // the frame itself and the quiet after it
const int kPressListenMs = kPressGapMs + kPressSlackMs;
// The second window: as long as the longest gap between presses.
const int kSecondWindowMs = kPressGapMs + kPressSlackMs;

// One step of the scan.
struct Step {
    bool listen = false;             // true: send nothing, listen
    bool presses = false;            // listening for the presses of a send key
    zel::LineVariant line = zel::LineVariant::k8N1;
    int baud = 0;                    // 0: TCP, no line settings
    std::string request;             // the bytes sent (empty when listening)
    bool split = false;              // first byte, a pause, then the rest
    // Listening: the whole window. Asking: the longest the reply may take
    // once the request is on the wire (its first byte, every byte of the
    // longest reply of the step's models, the quiet after it); with no byte
    // by firstByteMs the probe ends.
    int windowMs = 0;
    int firstByteMs = 0;
    std::vector<int> models;         // the models that judge what arrives
};

struct Plan {
    std::vector<Step> steps;
    // Models the scan cannot identify, each with the reason.
    std::vector<std::string> skipped;
};

// The plan for these speeds; `tcp`: one pass with no line settings.
Plan BuildPlan(const std::vector<int>& bauds, bool tcp);

// Everything the plan sends, in order, as a scale on the line sees it.
std::string PlanStream(const Plan& plan);

// The longest a run of the plan may take, in milliseconds: every window,
// every send (at the step's speed), every split pause, every change of
// line settings, the opening of the port (a TCP connect may take up to
// kConnectMs), the confirming sends and the second listening window.
int PlanBoundMs(const Plan& plan);
// The time one step's send takes (split pause and bytes on the wire).
int SendMs(const Step& step);
// The time the request's bytes take on the wire (0 over TCP).
int WireMs(const Step& step);
// The gap that ends a burst of bytes at this speed: four byte times, at
// least 40 ms.
int QuietMs(int baud);

// --- the command table ------------------------------------------------

// A command one of the protocols sends to its scale: tare, zero, price,
// acknowledgement, Modbus write. -1 in `bytes` is any byte (price digits,
// tare values, addresses).
struct CommandPattern {
    std::vector<int> owners;  // the models whose scales take it
    const char* what;
    std::vector<int> bytes;
};
const std::vector<CommandPattern>& CommandPatterns();

struct CommandHit {
    size_t offset;
    size_t length;
    std::string what;  // "model 8 tare", "Modbus write"
};

// Every command in `stream`: each table pattern wherever it occurs, and any
// Modbus write (function 05, 06, 0F or 10, any address) whose CRC holds. An
// occurrence lying wholly inside the owning scale's own read request is not
// a command to that scale (the Radwag reads "SUI" CR LF, which ends in its
// tare "I" CR LF). Hits that end before `from` are not reported.
std::vector<CommandHit> FindCommands(const std::string& stream, size_t from = 0);

// --- judging ------------------------------------------------------------

struct Verdict {
    bool ok = false;
    zel::exchange::Reading reading;
    int32_t result = 0;
    int frames = 0;  // frames accepted (listening)
    // A reply's judgement by the engine: why it was not taken.
    zel::exchange::Refusal refusal = zel::exchange::Refusal::kNoBytes;
};

// A polled model's judgement of the reply to its request. A reply is one
// frame: its first byte is the first that came and its last the last.
Verdict JudgeReply(int model, const uint8_t* bytes, size_t count);
// A talking model's judgement of what arrived while listening: at least two
// frames, each standing on its own. `bursts`: the offsets at which bytes came
// again after a silence (sorted); the start and the end of the bytes count
// as such edges too.
Verdict JudgeHeard(int model, const uint8_t* bytes, size_t count, const std::vector<size_t>& bursts = {});

// A pushing model's frames in these bytes as its listener reads them, each
// with its judgement: taken (the reading in the row's unit, before any
// coefficient) or refused, and why. `bursts` as for JudgeHeard.
struct Press {
    size_t start = 0, end = 0;
    bool taken = false;
    zel::exchange::Reading reading;
    std::string why;
};
std::vector<Press> JudgePresses(int model, const uint8_t* bytes, size_t count, const std::vector<size_t>& bursts = {});
// True for a model whose scale pushes readings (its row has an event
// description).
bool Pushes(int model);

// The models judging a step's bytes that recognise them, with the reading of
// the first.
struct Finding {
    std::vector<int> models;
    Verdict verdict;
    // Bytes that no model took: why, per group of models ("13/27: wrong
    // first byte; 14: the frame check failed").
    std::string why;
};
Finding Judge(const Step& step, const std::string& bytes, const std::vector<size_t>& bursts = {});

// True when `bytes` that came after `request` can be nothing but an echo:
// nothing, the request cut short, or (three bytes or more) bytes the scan
// sent. `sent` is everything the scan sent so far, ending with `request`.
bool IsEcho(const std::string& bytes, const std::string& sent, const std::string& request);

// A step's judgement of what arrived in its window: what was heard, or a
// probe's reply, which is never an echo. A line that echoes puts what was
// sent in front of the reply: the reply is judged without it.
Finding JudgeReceived(const Step& step, const std::string& received, const std::string& sent,
                      const std::vector<size_t>& bursts = {});

// The models of `first` that `second` names too: a find needs both.
Finding Confirmed(const Finding& first, const Finding& second);

// True when a scale that pushes readings sent exactly one while listening:
// it gets a second window for the next one.
bool OneReadingHeard(const Step& step, const std::string& bytes, const std::vector<size_t>& bursts = {});

// --- the settings of a find ---------------------------------------------------

// A coefficient as decimal text the setup form and `--coeff` take ("0.001",
// "1"; never an exponent).
std::string CoefficientText(double value);

// The command line that weighs with a find's settings (for a scale that
// pushes readings, the one that listens). `port` empty: TCP to host:tcpPort.
std::string WeighCommand(int model, const std::string& port, int baud, const std::string& host, int tcpPort);

// "13/27"
std::string GroupName(const std::vector<int>& models);

}  // namespace detect
}  // namespace zelscales
