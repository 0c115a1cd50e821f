// Event-driven scales: the scale pushes a frame when the operator presses its
// send key. Each open object runs one listener thread that keeps the port
// open, reads frames, hands every accepted reading to the platform as an
// external event and broadcasts it as a registered window message. Commands
// for the scale (acknowledgement, tare, price) are only flagged by the
// platform's thread and written by the listener.
//
// Waiting: on a silent line the thread sleeps in one wait until bytes
// arrive, a command is flagged or a stop is asked for; a frame's 500 ms read
// budget then starts with its first byte (see WaitForFrameBytes).
//
// Locking: `lock` guards the flags, the values to send, `stopRequested` and
// every port operation of the object, whichever thread makes it. It is always
// taken before the port's own lock, never after it. It is never held while a
// reading is formatted or published, nor while the listener waits for bytes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sync.h"
#include "scales/IScalesObject.h"
#include "scales/exchange/ByteLine.h"
#include "scales/exchange/Commands.h"

namespace zel {
namespace listener {

const int kMaxFrame = 64;  // room for the longest frame any listener reads
const unsigned kReadBudgetMs = 500;
const unsigned kReadStepMs = 50;
const unsigned kCyclePauseMs = 100;
const unsigned kStopWaitMs = 15000;
const size_t kLineBufferSize = 500;  // data lines keep at most 499 bytes

extern const char kWindowMessageName[];

// A value truncated toward zero into 32 bits: beyond the int32 range it
// saturates (never undefined), NaN gives 0. A value within a micro-unit of a
// whole number counts as that number, so 4.007 kg gives 4007 g although
// 4.007 * 1000 is 4006.9999999999995 in binary.
int32_t WholeValue(double value);
// WholeValue as a 32-bit message parameter: negative values travel as their
// two's-complement bit pattern.
uint32_t MessageValue(double value);
// wParam: the weight in grams, or in whole kilograms once the grams would
// exceed 2000000000.
uint32_t WeightMessageParam(double weightKg);
// lParam of a scale that reports a tare: the tare in grams.
uint32_t TareMessageParam(double tareKg);

// A reading the platform refuses (its event queue is full while the
// application is busy) is offered again after 10, 20, 40, ... ms, each wait
// at most 200 ms, until 2000 ms of waiting are spent; then it is given up and
// logged. A stop ends the waiting at once and leaves one last offer, so a
// close waits on a refused reading no longer than one ExternalEvent call.
const unsigned kEventRetryFirstMs = 10;
const unsigned kEventRetryMaxStepMs = 200;
const unsigned kEventRetryBudgetMs = 2000;

struct EventDelivery {
    bool delivered = false;
    int offers = 0;           // ExternalEvent calls made
    unsigned waitedMs = 0;    // waits asked for between them
    bool stopped = false;     // a stop ended the retries
};
// Offers one event through `offer` (true: the platform took it) and retries
// a refused one as above. `wait(ms)` waits before the next offer and is false
// when a stop ended it (or a stop is already asked for).
template <class Offer, class Wait>
EventDelivery DeliverEvent(Offer&& offer, Wait&& wait) {
    EventDelivery d;
    unsigned step = kEventRetryFirstMs;
    for (;;) {
        ++d.offers;
        if (offer()) {
            d.delivered = true;
            return d;
        }
        if (d.stopped || d.waitedMs >= kEventRetryBudgetMs) return d;
        const unsigned ms = step < kEventRetryBudgetMs - d.waitedMs ? step : kEventRetryBudgetMs - d.waitedMs;
        d.waitedMs += ms;
        if (!wait(ms)) d.stopped = true;
        step = step * 2 < kEventRetryMaxStepMs ? step * 2 : kEventRetryMaxStepMs;
    }
}

// FormatFixed without a minus zero: a value that prints as zero prints with
// no sign ("-0.000" would be a reading that never was).
std::string FixedField(double value, int width, int decimals);
// The same for a number the scale printed itself: a '-' before digits that
// are all zero becomes a space, so the text keeps its width.
std::string WithoutMinusZero(std::string text);

// A data line cut to the 499 bytes its buffer holds.
std::string BoundedLine(std::string line);

// One field of the data line a listener hands the platform with a reading
// (fields parted by ';'): its name for tools that split the line, whether it
// is a number, or no name for a field that carries nothing (a fixed 0.00).
// The last field takes the rest of the line (free text may hold ';').
struct EventField {
    const char* name;
    bool number;
};
struct EventLine {
    const EventField* fields = nullptr;
    size_t count = 0;
};

// The budget of one frame read.
struct ReadClock {
    int budgetMs = static_cast<int>(kReadBudgetMs);
    // No frame begun and nothing happened yet in this read: a wait may
    // sleep past the budget while nothing happens.
    bool mayIdle = true;
};

// One wait on an empty line inside a frame read; false when the read must
// end (budget spent, or no line to wait on). A wait that ends by bytes costs
// the time it took, at least 1 ms; one that ends by a wake-up (a command, a
// stop) costs what it took too. An idle wait (no frame begun, nothing
// happened yet in this read, a line that CanSleep) sleeps until something
// happens and costs nothing: bytes then start a whole budget, a wake-up
// leaves the budget as it was.
bool WaitForFrameBytes(exchange::IByteLine& line, ReadClock& clock, bool frameStarted);

// What a frame read asks of its owner between reads.
class FrameReadHooks {
public:
    virtual ~FrameReadHooks() = default;
    // Before each read of the line.
    virtual void BeforeRead() {}
    // True when the line has closed under the read (a Disconnect, a failed
    // read): nothing more will come.
    virtual bool LineClosed() = 0;
    // True when the listener is asked to stop.
    virtual bool Stopped() = 0;
};

// Reads up to `length` bytes into `frame`, which holds `held` of them
// already, against the cycle's budget; returns the count. An empty read
// waits through WaitForFrameBytes; a closed line, a spent budget or a stop
// end the read with what it has.
int ReadFrameBytes(exchange::IByteLine& line, ReadClock& clock, FrameReadHooks& hooks, uint8_t* frame, int length,
                   int held);

}  // namespace listener
}  // namespace zel

class CScalesListener : public IScalesObject {
public:
    ~CScalesListener() override;

    int32_t OpenCom(const char* portName, int32_t baudRate, zel::IPlatformEvents* connection) override;
    int32_t OpenTcp(const char* host, int32_t tcpPort, zel::IPlatformEvents* connection) override;
    int32_t Connect() override;
    int32_t Disconnect() override;
    int32_t ReadWeight(double& weight, double& price, double& cost, int32_t& stable) override;
    int32_t SetCoeff(double coefficient) override;
    double GetCoeff() override;

    // True while a listener thread runs for this object.
    bool Listening();

protected:
    CScalesListener();

    // Stops the listener and closes the port. Every concrete class calls it
    // first thing in its destructor, while its own members and overrides
    // still exist for the thread.
    void Shutdown();

    // Pause: the 100 ms pause, then the next cycle. Continue: the next read
    // at once, from fresh bytes. Refused: the frame failed its markers; the
    // next read goes on at once from where NextFrameStart finds a frame may
    // begin among the bytes already held, so a header-valued byte inside a
    // frame cannot hold the reader on a wrong window.
    enum class Next { Pause, Continue, Refused };

    // Bytes one frame asks for.
    virtual int FrameLength() const = 0;
    // Reads one frame into `frame`, which has room for `capacity` bytes and
    // already holds `held` bytes of it, and returns the count held. The
    // default asks for the FrameLength() bytes still missing at each attempt,
    // against the ReadBudget; a scale whose frames have no fixed length reads
    // them its own way.
    virtual int ReadOneFrame(uint8_t* frame, int capacity, int held);
    // Offset (1..count) of the first byte of a refused frame where another
    // frame may begin; count when none can. The default keeps nothing.
    virtual int NextFrameStart(const uint8_t* frame, int count) const { return count; }
    // Before the frame is read (commands sent once per cycle).
    virtual void BeforeCycle() {}
    // Before each read attempt (commands sent as soon as they are flagged).
    virtual void BeforeReadAttempt() {}
    // Validates, decodes and publishes what was read; `count` bytes may be
    // fewer than FrameLength(). Pause gives the 100 ms pause before the next
    // cycle, Continue starts the next read at once.
    virtual Next HandleFrame(const uint8_t* frame, int count) = 0;

    // Ends the listener's wait so that it sees a flag just set.
    void WakeListener();

    // The device port as the listener reads it: each read under `lock`,
    // waits without it.
    class PortLine : public zel::exchange::PortByteLine {
    public:
        explicit PortLine(CScalesListener& owner) : PortByteLine(owner.port), owner_(owner) {}
        int Read(uint8_t* buffer, int size) override;
        // 0 while the line is open (under `lock`).
        int LineState();

    private:
        CScalesListener& owner_;
    };

    // The read of the current cycle.
    zel::listener::ReadClock cycle;

    // Writes a command frame under `lock`, then pauses `pauseMs` still
    // holding it. False when the line took less (the command is lost, never
    // repeated).
    bool SendCommand(const uint8_t* data, int length, unsigned pauseMs);

    // ExternalEvent "EventScales"/"NewData" with the line, when the platform
    // gave a connection; a refused event is offered again (DeliverEvent) and
    // the general log records every refusal and every reading given up.
    // False when the reading did not reach the platform.
    bool NotifyPlatform(const std::string& line);
    // A frame in its place that gives no reading (a field holds no number):
    // one line in the general log, so the technician sees why a key press
    // brought nothing. Returns `next`.
    Next Refuse(Next next, const char* why);
    // NotifyPlatform, then the window-message broadcast.
    void Publish(const std::string& line, uint32_t wParam, uint32_t lParam);

    platform::RecursiveMutex lock;
    uint8_t stopRequested;
    platform::Thread listenerThread;

private:
    static void ThreadEntry(void* self);
    void RunListener();
    bool StopSeen();
    // Reads up to `length` bytes against the ReadBudget into `frame`, which
    // holds `held` already; returns the count.
    int ReadFrame(uint8_t* frame, int length, int held);
    // The pause between cycles: a stop ends it, and so do bytes on an open
    // line; a flagged command waits for the next cycle. With no line to wait
    // on it sleeps its time all the same, so a listener on an unplugged line
    // tries again every pause instead of spinning.
    void Pause(unsigned ms);
    void StopListener(bool reopen);
    bool StartListener();  // with `lock` held

    unsigned windowMessage_;
};
